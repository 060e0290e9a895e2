#pragma once

#include <QString>
#include <optional>

// What a long-running process holds: resident memory and open file descriptors, read from
// /proc (Linux only; the soak runs there).
struct ProcessFigures {
    qint64 rssKiB = 0;
    int openFds = 0;
    // Heap bytes in use (malloc's own count), this process only: what RSS holds apart from
    // freed memory the allocator keeps.
    std::optional<qint64> heapKiB;

    // pid 0: this process. Absent when /proc has no such process.
    static std::optional<ProcessFigures> of(qint64 pid = 0);
};
