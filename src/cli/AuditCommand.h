#pragma once

// `kestrel audit [--archive-root DIR]`: checks the local archive read-only and prints the
// report; exits 0 when everything is in order, 2 when something needs attention.
namespace AuditCommand {

int main(int argc, char** argv);

} // namespace AuditCommand
