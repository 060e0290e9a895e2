#pragma once

// `kestrel audit [--archive-root DIR]`: checks the local archive read-only and prints the
// report; exits 0 when everything is in order, 2 when something needs attention, 1 (with one
// sentence, before anything else) when the archive root cannot be read.
namespace AuditCommand {

int main(int argc, char** argv);

} // namespace AuditCommand
