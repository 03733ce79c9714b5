// Writes a security file "SecurInf.cfg" into the current directory, for an
// administrator preparing a machine and for the demo:
//
//   securinf_writer ADMIN_PASSWORD OPERATOR_PASSWORD OPERATOR_MAY_PURGE
//
// Passwords are taken as given (at most 15 bytes each, empty for none); the
// third argument is the operator's right to purge, 0 or 1. Every other
// settings word gets its default. The credential store "SecStorage.ini" is
// saved beside the file, as every write of a security file does.
//
// Exit status: 0 written; 1 not written (bad arguments, or the file could
// not be created or written); 2 written, but the credential store could
// not be saved.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "security/secret_ini.h"

namespace {

const char kSecurityFileName[] = "SecurInf.cfg";

int Usage() {
  std::fprintf(stderr, "usage: securinf_writer ADMIN_PASSWORD OPERATOR_PASSWORD OPERATOR_MAY_PURGE(0|1)\n");
  return 1;
}

bool FitsPassword(const char* text, const char* what) {
  if (std::strlen(text) < SecretIni::kPasswordSize) return true;
  std::fprintf(stderr, "securinf_writer: the %s password is longer than %d bytes\n", what,
               SecretIni::kPasswordSize - 1);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  const char* admin = argv[1];
  const char* operator_ = argv[2];
  char* end = nullptr;
  long right = std::strtol(argv[3], &end, 10);
  if (*argv[3] == '\0' || *end != '\0' || (right != 0 && right != 1)) return Usage();
  if (!FitsPassword(admin, "administrator") || !FitsPassword(operator_, "operator")) return 1;

  SecretIni secret(kSecurityFileName, SecretIni::Blank{});
  std::strcpy(secret.AdminPassword, admin);
  std::strcpy(secret.OperatorPassword, operator_);
  secret.Settings[SecretIni::kOperatorMayPurge] = static_cast<int32_t>(right);
  int32_t written = secret.Write();
  if (written < 0) {
    std::fprintf(stderr, "securinf_writer: %s could not be written\n", secret.MainPath);
    return 1;
  }
  if (written == 0) {
    std::fprintf(stderr, "securinf_writer: %s written, but the credential store could not be saved\n", secret.MainPath);
    return 2;
  }
  return 0;
}
