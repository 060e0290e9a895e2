#pragma once

#include <QString>
#include <exception>

// The user-facing text of an error: our own errors give their description, anything else
// the operating system's (or library's) message.
QString describe(const std::exception& error);
QString describe(const std::exception_ptr& error);
