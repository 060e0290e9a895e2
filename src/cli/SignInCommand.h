#pragma once

// `kestrel sign-in --email E [--archive-root DIR]`: asks for the password (terminal without
// echo, or the first line of standard input), signs in with the service named by the archive's
// "importer/mindvault.json" and keeps the credential. Exit 0 signed in, 1 not, 2 bad usage.
namespace SignInCommand {

int main(int argc, char** argv);

} // namespace SignInCommand
