#pragma once

#include <QString>
#include <optional>

// What the engine is doing with one recording right now ("下载中" with a fraction, or
// "推送：" + the upload step), for its row and its chain.
struct RecordingActivity {
    QString label;
    std::optional<double> fraction; // 0...1

    bool operator==(const RecordingActivity&) const = default;
};
