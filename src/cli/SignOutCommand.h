#pragma once

// `kestrel sign-out`: deletes the stored credential (no request to the service). Exit 0 when no
// credential is left, 1 when it could not be deleted.
namespace SignOutCommand {

int main(int argc, char** argv);

} // namespace SignOutCommand
