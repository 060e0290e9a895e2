#pragma once

#include "sync/Describe.h"

#include <QString>
#include <exception>

// An error that also carries a library's own words (FFmpeg's English, say): for the log only,
// never part of the sentence the user reads.
class LogDetail {
public:
    virtual ~LogDetail() = default;
    virtual QString logDetail() const = 0;
};

// describe(), then any library's own words in brackets.
inline QString describeForLog(const std::exception& error)
{
    const auto* detailed = dynamic_cast<const LogDetail*>(&error);
    const QString detail = detailed ? detailed->logDetail() : QString();
    return detail.isEmpty()
               ? describe(error)
               : describe(error) + QStringLiteral("（") + detail + QStringLiteral("）");
}
