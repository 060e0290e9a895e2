#pragma once

#include "device/FileEntry.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <optional>
#include <utility>

// What the engine last read from the pen, for the planner and the list: the recording status,
// the file being recorded, the file list, whether the clock was set this run, and whether the
// low-battery warning has been given. Only the engine's round writes it.
class PenWatch {
public:
    std::optional<uint8_t> status() const { return m_status; }
    const std::optional<QString>& current() const { return m_current; }
    const QList<FileEntry>& entries() const { return m_entries; }

    void noteStatus(std::optional<uint8_t> status) { m_status = status; }
    void noteCurrent(const std::optional<QString>& current) { m_current = current; }
    void noteEntries(const QList<FileEntry>& entries) { m_entries = entries; }
    // True the first time in this run: the clock-set line is logged once.
    bool noteClockSet() { return !std::exchange(m_clockSet, true); }
    // Whether a battery reading calls for the low-battery warning now. Only a reading moves the
    // warning state: an unanswered read, or the 110 some pens report without a reading, says
    // nothing about the charge, and clearing on it would repeat the warning at the next low
    // reading. 21-30 keeps the last state so a level hovering around the threshold does not
    // warn again and again.
    bool lowBatteryWarningDue(std::optional<uint8_t> level);

private:
    std::optional<uint8_t> m_status;
    std::optional<QString> m_current;
    QList<FileEntry> m_entries;
    bool m_clockSet = false;
    bool m_warnedLowBattery = false;
};
