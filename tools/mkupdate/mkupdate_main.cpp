// mkupdate: the publisher's tool that makes, lists and checks update
// executables. Exit codes: 0 done, 1 refused or failed, 2 usage error.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/mkupdate/inspect.h"
#include "tools/mkupdate/pack.h"

namespace {

const char kToolHelp[] =
    "usage: mkupdate COMMAND ARGS...\n"
    "\n"
    "  pack    make an update executable from the updater stub and files\n"
    "  list    show what an update carries and check it\n"
    "  verify  check an installed game folder against a verification list\n"
    "\n"
    "mkupdate COMMAND --help shows the command's usage.\n";

const char kPackHelp[] =
    "usage: mkupdate pack --stub STUB --out OUT\n"
    "                     [--verify-dir DIR | --verify-list FILE] ENTRY...\n"
    "\n"
    "Writes OUT: STUB (the updater built without payload, under 1 MiB),\n"
    "zero bytes up to 1 MiB, then the payload archive with the entries in\n"
    "the given order. ENTRY is a file, stored under its base name, or\n"
    "NAME=PATH. Names are at most 15 bytes; '/' in them becomes '\\'.\n"
    "\n"
    "  --verify-dir DIR    add the verification list vrx.hvl with the\n"
    "                      checksum of every file under DIR\n"
    "  --verify-list FILE  add FILE as the verification list vrx.hvl\n"
    "\n"
    "The list is the last entry. Every entry it names must match it.\n"
    "At most 24 entries, the list included.\n";

const char kListHelp[] =
    "usage: mkupdate list FILE\n"
    "\n"
    "Prints the directory of the update FILE: name, offset, size, checksum\n"
    "and the state against the update's own verification list (verified,\n"
    "MISMATCH, not listed). Exits 1 when the payload or an entry cannot be\n"
    "read, the list is damaged, or an entry mismatches.\n";

const char kVerifyHelp[] =
    "usage: mkupdate verify LIST DIR\n"
    "\n"
    "Checks every file that the verification list LIST (a vrx.hvl file)\n"
    "names in the folder DIR and prints the missing and the differing ones.\n"
    "Exits 1 when any is.\n";

int Usage(const char* help, const std::string& problem) {
  fprintf(stderr, "mkupdate: %s\n%s", problem.c_str(), help);
  return 2;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// Takes the value of option name from "--name VALUE" or "--name=VALUE".
// Returns 0 if arg is not that option, 1 if taken, -1 if the value is
// missing or given twice.
int TakeOption(const std::vector<std::string>& args, size_t* i,
               const std::string& name, std::string* value) {
  const std::string& arg = args[*i];
  std::string given;
  if (arg == name) {
    if (*i + 1 >= args.size()) return -1;
    given = args[++*i];
  } else if (arg.compare(0, name.size() + 1, name + "=") == 0) {
    given = arg.substr(name.size() + 1);
  } else {
    return 0;
  }
  if (!value->empty() || given.empty()) return -1;
  *value = given;
  return 1;
}

int Pack(const std::vector<std::string>& args) {
  PackOptions o;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-') {
      o.entries.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (IsHelp(arg)) {
      fputs(kPackHelp, stdout);
      return 0;
    }
    int taken = 0;
    for (auto option :
         {std::make_pair("--stub", &o.stub), std::make_pair("--out", &o.out),
          std::make_pair("--verify-dir", &o.verify_dir),
          std::make_pair("--verify-list", &o.verify_list)}) {
      if (taken == 0) taken = TakeOption(args, &i, option.first, option.second);
    }
    if (taken < 0) return Usage(kPackHelp, "missing or repeated value: " + arg);
    if (taken == 0) return Usage(kPackHelp, "unknown option: " + arg);
  }
  if (o.stub.empty()) return Usage(kPackHelp, "--stub is missing");
  if (o.out.empty()) return Usage(kPackHelp, "--out is missing");
  if (!o.verify_dir.empty() && !o.verify_list.empty()) {
    return Usage(kPackHelp, "give --verify-dir or --verify-list, not both");
  }
  if (o.entries.empty() && o.verify_dir.empty() && o.verify_list.empty()) {
    return Usage(kPackHelp, "nothing to pack");
  }
  return RunPack(o);
}

// Commands with fixed operands: --help, or exactly count operands.
int CheckOperands(const std::vector<std::string>& args, size_t count,
                  const char* help) {
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      fputs(help, stdout);
      return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      return Usage(help, "unknown option: " + arg);
    }
  }
  if (args.size() != count) return Usage(help, "wrong number of operands");
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(kToolHelp, "no command given");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (IsHelp(command)) {
    fputs(kToolHelp, stdout);
    return 0;
  }
  if (command == "pack") return Pack(args);
  if (command == "list") {
    int done = CheckOperands(args, 1, kListHelp);
    return done >= 0 ? done : RunList(args[0]);
  }
  if (command == "verify") {
    int done = CheckOperands(args, 2, kVerifyHelp);
    return done >= 0 ? done : RunVerify(args[0], args[1]);
  }
  return Usage(kToolHelp, "unknown command: " + command);
}
