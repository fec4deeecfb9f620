// mkupdate: the publisher's tool that makes, lists and checks update
// executables. Exit codes: report.h.
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/tool_system.h"
#include "tools/mkupdate/apply_command.h"
#include "tools/mkupdate/check_command.h"
#include "tools/mkupdate/list_command.h"
#include "tools/mkupdate/pack.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/verify_command.h"

namespace {

const char kVersion[] = "mkupdate " MKUPDATE_VERSION "\n";

const char kToolHelp[] =
    "usage: mkupdate COMMAND ARGS...\n"
    "\n"
    "  pack    make an update executable from the updater stub and files,\n"
    "          or from the releases of the game players may have to a\n"
    "          new one\n"
    "  list    show what an update carries and check it\n"
    "  verify  check an installed game folder against a verification list\n"
    "  apply   install an update into a folder as the updater would\n"
    "  check   try an update on a copy of each old release and compare\n"
    "          the result with the new one\n"
    "  help    show a command's usage: mkupdate help pack\n"
    "\n"
    "  --help     this text\n"
    "  --version  the tool's version\n"
    "\n"
    "Exit codes: 0 done and all good; 1 pack refused an input, list, verify\n"
    "or check found a mismatch, a missing or a differing file, or apply's\n"
    "run failed; 2 usage error; 3 could not check or run (not an update, a\n"
    "damaged list, an unreadable file). Results go to stdout, diagnostics\n"
    "to stderr.\n"
    "\n"
    "The publisher's guide: docs/publishing.md (share/doc/mkupdate where\n"
    "mkupdate is installed); man mkupdate.\n";

const char kPackHelp[] =
    "usage: mkupdate pack [--stub STUB] --out OUT --from OLD [--from OLD...]\n"
    "                     --to NEW [--exclude PATTERN...] [--dry-run]\n"
    "                     [--json] [--quiet] [ENTRY...]\n"
    "       mkupdate pack [--stub STUB] --out OUT\n"
    "                     [--verify-dir DIR [--from OLD...] | --verify-list "
    "FILE]\n"
    "                     [--exclude PATTERN...] [--dry-run] [--json]\n"
    "                     [--quiet] ENTRY...\n"
    "\n"
    "Writes OUT: STUB (the updater built without payload, under 1 MiB),\n"
    "zero bytes up to 1 MiB, then the payload archive, the verification\n"
    "list last. Never writes over STUB or an input: an OUT inside OLD,\n"
    "NEW or DIR is refused. Without --stub, the i686 stub where mkupdate\n"
    "is installed: updater.exe beside it, ../share/mkupdate/i686/updater.exe\n"
    "from it, or the package's; pack says which it used. Each OLD and NEW\n"
    "must hold the game's uninstall list, uninst.lst, as the updater needs\n"
    "it.\n"
    "\n"
    "  --from OLD           a release the players may have installed, as\n"
    "                       installed; once for each such release (with\n"
    "                       --verify-dir: the releases whose folders the\n"
    "                       entries go into)\n"
    "  --to NEW             the new release: the update brings every OLD to\n"
    "                       it with the files of NEW that any OLD lacks or\n"
    "                       holds otherwise, in bytewise order of their\n"
    "                       names, and a list of every file of NEW but\n"
    "                       uninst.lst and vrx.hvl\n"
    "  --verify-dir DIR     add the list vrx.hvl with the checksum of every\n"
    "                       file under DIR (but uninst.lst and vrx.hvl)\n"
    "  --verify-list FILE   add FILE as the list vrx.hvl\n"
    "  --entry NAME FILE    add FILE under the entry name NAME\n"
    "  --exclude PATTERN    leave the files PATTERN names (a path in the\n"
    "                       release, or a glob: * and ? within one part; a\n"
    "                       folder with all under it) out of the entries and\n"
    "                       the list; once for each pattern\n"
    "  --dry-run            print what would be packed, which releases each\n"
    "                       entry serves and what is left out; write nothing\n"
    "  --json               the same as one JSON document on stdout\n"
    "  -q, --quiet          print nothing but errors (no progress, no notes)\n"
    "\n"
    "ENTRY is a file: under DIR or NEW it is stored under its path there,\n"
    "elsewhere under its own name. NAME=FILE names it (the name ends at the\n"
    "first '='); after -- every ENTRY is a file. Names are converted to\n"
    "code page 932 and hold at most 15 bytes there; '/' becomes '\\'. At\n"
    "most 24 entries, the list included. Every entry the list names must\n"
    "match it. Links in DIR, OLD and NEW are followed where they stay\n"
    "inside that folder; one that leads outside it is refused, as is an\n"
    "ENTRY there that does.\n"
    "\n"
    "On a terminal one line shows the bytes done of the whole pack.\n";

const char kListHelp[] =
    "usage: mkupdate list [--json] [--records] FILE\n"
    "\n"
    "Prints the directory of the update FILE: name, offset, size, checksum\n"
    "and the state against the update's own verification list (verified,\n"
    "MISMATCH, not listed), and the bytes after the data (a signature).\n"
    "\n"
    "  --json     the same as JSON, states in small letters\n"
    "  --records  also the verification list's records\n"
    "\n"
    "Exits 1 when an entry mismatches, 3 when FILE is not an update, its\n"
    "list is damaged or an entry cannot be read.\n";

const char kVerifyHelp[] =
    "usage: mkupdate verify [--json] LIST DIR\n"
    "\n"
    "Checks every file that the verification list LIST (a vrx.hvl file, or\n"
    "an update that carries one) names in the folder DIR, letter case\n"
    "ignored, and prints the missing, the differing and the unreadable\n"
    "ones.\n"
    "\n"
    "  --json  every file and its state (ok, missing, differs, unreadable)\n"
    "\n"
    "Exits 1 when a file is missing or differs, 3 when LIST cannot be read\n"
    "or a file cannot be checked.\n";

const char kApplyHelp[] =
    "usage: mkupdate apply [--quiet] UPDATE FOLDER\n"
    "\n"
    "Installs UPDATE into FOLDER as the updater does, with its own code:\n"
    "every entry staged beside its file and checked against the update's\n"
    "list, then moved over it, and the installed names merged into the\n"
    "uninstall list. No registry, no question, no mutex. Prints the\n"
    "updater's result code and its message, and on a failure what failed.\n"
    "Then every entry is looked for in FOLDER under its name, with its\n"
    "bytes.\n"
    "\n"
    "  -q, --quiet  print nothing on success\n"
    "\n"
    "Exits 0 when the updater would end with 0 and every entry is in\n"
    "place; 1 with any other result (printed in hex, e.g. 0x80000003, with\n"
    "the updater's message and what failed) or an entry not in place; 3 when\n"
    "UPDATE or FOLDER is missing, or their paths cannot be given to the\n"
    "updater (code page 932, backslashes).\n";

const char kCheckHelp[] =
    "usage: mkupdate check [--json] UPDATE... --from OLD [--from OLD...]\n"
    "                      --to NEW [--exclude PATTERN...]\n"
    "\n"
    "For each OLD: copies it into a temporary folder, installs each UPDATE\n"
    "there in the order given (the parts of a split update) as the updater\n"
    "would (mkupdate apply), and compares the folder with NEW: every file\n"
    "of NEW must be there with its bytes, and every entry the updates\n"
    "installed named in the uninstall list. Prints, per OLD, each file that\n"
    "is missing or differs, or what failed. The temporary folders are\n"
    "removed, also when check is interrupted, and what a killed check left\n"
    "is removed by the next. Reads the finished files, signed or not.\n"
    "\n"
    "  --from OLD         a release the players may have; once for each\n"
    "  --to NEW           the release every OLD must become\n"
    "  --exclude PATTERN  files of NEW not compared (as pack's --exclude)\n"
    "  --json             one JSON document on stdout\n"
    "\n"
    "Exits 0 when every OLD becomes NEW, 1 when one does not, 3 when none\n"
    "differs but one could not be tried: a release or an update that cannot\n"
    "be read, a temporary folder (TMPDIR) without room for the copy.\n";

struct Command {
  const char* name;
  const char* help;
};
const Command kCommands[] = {{"pack", kPackHelp},
                             {"list", kListHelp},
                             {"verify", kVerifyHelp},
                             {"apply", kApplyHelp},
                             {"check", kCheckHelp}};

int Usage(const std::string& problem, const char* command) {
  std::string also = command == nullptr
                         ? ""
                         : std::string(" or 'mkupdate help ") + command + "'";
  WriteText(stderr,
            "mkupdate: " + problem + "\nTry 'mkupdate --help'" + also + ".\n");
  return kExitUsage;
}

int Help(const char* text) {
  Print(text);
  return kExitOk;
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

// --from, once for each release the players may have, and --exclude, once
// for each pattern, as TakeOption takes one.
int TakeRepeatedOption(const std::vector<std::string>& args, size_t* i,
                       std::vector<std::string>* from,
                       std::vector<std::string>* exclude) {
  std::string release, pattern;
  int taken = TakeOption(args, i, "--from", &release);
  if (taken > 0) from->push_back(release);
  if (taken == 0) taken = TakeOption(args, i, "--exclude", &pattern);
  if (taken > 0 && !pattern.empty()) exclude->push_back(pattern);
  return taken;
}

// The options of pack; returns -1 when all were taken, else an exit code.
int TakePackOption(const std::vector<std::string>& args, size_t* i,
                   PackOptions* o) {
  const std::string& arg = args[*i];
  if (IsHelp(arg)) return Help(kPackHelp);
  if (arg == "--dry-run" || arg == "--quiet" || arg == "-q" ||
      arg == "--json") {
    (arg == "--dry-run" ? o->dry_run
     : arg == "--json"  ? o->json
                        : o->quiet) = true;
    return -1;
  }
  if (arg == "--entry") {
    if (*i + 2 >= args.size())
      return Usage("--entry needs NAME and FILE", "pack");
    EntryArg entry;
    entry.name = args[*i + 1];
    entry.path = args[*i + 2];
    entry.named = true;
    entry.text = "--entry " + entry.name;
    o->entries.push_back(entry);
    *i += 2;
    return -1;
  }
  int taken = TakeRepeatedOption(args, i, &o->from, &o->exclude);
  for (auto option :
       {std::make_pair("--stub", &o->stub), std::make_pair("--out", &o->out),
        std::make_pair("--verify-dir", &o->verify_dir),
        std::make_pair("--verify-list", &o->verify_list),
        std::make_pair("--to", &o->to)}) {
    if (taken == 0) taken = TakeOption(args, i, option.first, option.second);
  }
  if (taken < 0) return Usage("missing or repeated value: " + arg, "pack");
  if (taken == 0) return Usage("unknown option: " + arg, "pack");
  return -1;
}

// The stub that goes with this mkupdate, where none is given: beside it
// (the zip's updater.exe), under the prefix it is installed in
// (../share/mkupdate/i686/, any prefix), then where the package puts it.
// *places gets each place tried, for the message when none holds one.
bool FindInstalledStub(PackOptions* o, std::string* places) {
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, const char*>> candidates;
  std::string self;
  if (OwnExecutablePath(&self)) {
    fs::path dir = fs::u8path(self).parent_path();
    candidates.push_back({(dir / "updater.exe").u8string(), "beside mkupdate"});
    candidates.push_back(
        {(dir / ".." / "share" / "mkupdate" / "i686" / "updater.exe")
             .lexically_normal()
             .u8string(),
         "where mkupdate is installed"});
  }
  if (MKUPDATE_INSTALLED_STUB[0] != '\0') {
    candidates.push_back({MKUPDATE_INSTALLED_STUB, "the package's"});
  }
  for (const auto& candidate : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(fs::u8path(candidate.first), ec)) {
      o->stub = candidate.first;
      o->stub_from = candidate.second;
      return true;
    }
    *places += (places->empty() ? "" : ", ") + candidate.first;
  }
  return false;
}

// Each release given once: the same folder twice (by any spelling) is a
// mistake in the command line that would only hide another release.
int CheckReleasesDistinct(const std::vector<std::string>& from,
                          const std::string& to, const char* command) {
  std::vector<std::pair<FileId, std::string>> seen;
  std::vector<std::string> given = from;
  if (!to.empty()) given.push_back(to);
  for (size_t i = 0; i < given.size(); i++) {
    FileId id;
    if (!GetFileId(given[i], &id)) continue;
    const char* option = i < from.size() ? "--from " : "--to ";
    for (const auto& earlier : seen) {
      if (earlier.first == id) {
        return Usage(option + given[i] + " is the same folder as " +
                         earlier.second + ": give each release once",
                     command);
      }
    }
    seen.push_back({id, option + given[i]});
  }
  return -1;
}

int CheckPackOptions(PackOptions* options) {
  const PackOptions& o = *options;
  std::string places;
  if (o.stub.empty() && !FindInstalledStub(options, &places)) {
    return Usage("--stub is missing, and no stub lies where mkupdate looks (" +
                     places + ")",
                 "pack");
  }
  if (o.out.empty()) return Usage("--out is missing", "pack");
  if (!o.verify_dir.empty() && !o.verify_list.empty()) {
    return Usage("give --verify-dir or --verify-list, not both", "pack");
  }
  if (!o.to.empty() && o.from.empty()) {
    return Usage("give --from and --to together", "pack");
  }
  if (!o.to.empty() && (!o.verify_dir.empty() || !o.verify_list.empty())) {
    return Usage(
        "--from and --to make their own list; drop --verify-dir "
        "and --verify-list",
        "pack");
  }
  if (!o.from.empty() && o.to.empty() && o.verify_dir.empty()) {
    return Usage(
        "give --from with --to, or with --verify-dir and the entries (the "
        "releases whose folders and uninstall lists the entries need)",
        "pack");
  }
  int distinct = CheckReleasesDistinct(o.from, o.to, "pack");
  if (distinct >= 0) return distinct;
  if (o.entries.empty() && o.verify_dir.empty() && o.verify_list.empty() &&
      o.from.empty()) {
    return Usage("nothing to pack", "pack");
  }
  return -1;
}

int Pack(const std::vector<std::string>& args) {
  PackOptions o;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      EntryArg entry;
      entry.text = entry.path = arg;
      entry.may_be_named = !options_done;
      o.entries.push_back(entry);
    } else if (arg == "--") {
      options_done = true;
    } else {
      int done = TakePackOption(args, &i, &o);
      if (done >= 0) return done;
    }
  }
  int done = CheckPackOptions(&o);
  return done >= 0 ? done : RunPack(o);
}

// The flags and operands of list and verify. Returns -1 when they were
// taken, else an exit code.
int TakeFlags(const std::vector<std::string>& args, const Command& command,
              const std::vector<std::pair<const char*, bool*>>& flags,
              size_t count, std::vector<std::string>* operands) {
  bool options_done = false;
  for (const std::string& arg : args) {
    bool taken = false;
    if (!options_done && IsHelp(arg)) return Help(command.help);
    if (!options_done && arg == "--") {
      options_done = true;
      continue;
    }
    for (const auto& flag : flags) {
      if (!options_done && arg == flag.first) *flag.second = taken = true;
    }
    if (taken) continue;
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option: " + arg, command.name);
    }
    operands->push_back(arg);
  }
  if (operands->size() != count) {
    return Usage(std::string(command.name) + " takes " +
                     (count == 1 ? "one operand" : "two operands") + ", not " +
                     std::to_string(operands->size()),
                 command.name);
  }
  return -1;
}

int List(const std::vector<std::string>& args) {
  ListOptions o;
  std::vector<std::string> operands;
  int done =
      TakeFlags(args, kCommands[1],
                {{"--json", &o.json}, {"--records", &o.records}}, 1, &operands);
  if (done >= 0) return done;
  o.file = operands[0];
  return RunList(o);
}

int Verify(const std::vector<std::string>& args) {
  VerifyOptions o;
  std::vector<std::string> operands;
  int done = TakeFlags(args, kCommands[2], {{"--json", &o.json}}, 2, &operands);
  if (done >= 0) return done;
  o.list = operands[0];
  o.dir = operands[1];
  return RunVerify(o);
}

int Apply(const std::vector<std::string>& args) {
  ApplyOptions o;
  std::vector<std::string> operands;
  bool quiet_short = false;
  int done =
      TakeFlags(args, kCommands[3],
                {{"--quiet", &o.quiet}, {"-q", &quiet_short}}, 2, &operands);
  if (done >= 0) return done;
  o.quiet = o.quiet || quiet_short;
  o.update = operands[0];
  o.folder = operands[1];
  return RunApply(o);
}

// The options of check; returns -1 when all were taken, else an exit code.
int TakeCheckOption(const std::vector<std::string>& args, size_t* i,
                    CheckOptions* o) {
  if (IsHelp(args[*i])) return Help(kCheckHelp);
  if (args[*i] == "--json") {
    o->json = true;
    return -1;
  }
  int taken = TakeRepeatedOption(args, i, &o->from, &o->exclude);
  if (taken == 0) taken = TakeOption(args, i, "--to", &o->to);
  if (taken < 0)
    return Usage("missing or repeated value: " + args[*i], "check");
  if (taken == 0) return Usage("unknown option: " + args[*i], "check");
  return -1;
}

int Check(const std::vector<std::string>& args) {
  CheckOptions o;
  std::vector<std::string> operands;
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i].size() > 1 && args[i][0] == '-') {
      int done = TakeCheckOption(args, &i, &o);
      if (done >= 0) return done;
    } else {
      operands.push_back(args[i]);
    }
  }
  if (operands.empty()) return Usage("check needs an update", "check");
  if (o.from.empty() || o.to.empty()) {
    return Usage("give --from OLD (once for each) and --to NEW", "check");
  }
  int done = CheckReleasesDistinct(o.from, o.to, "check");
  if (done >= 0) return done;
  o.updates = operands;
  return RunCheck(o);
}

int HelpCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Help(kToolHelp);
  if (args.size() > 1) return Usage("help takes one command", nullptr);
  for (const Command& command : kCommands) {
    if (args[0] == command.name) return Help(command.help);
  }
  return Usage("no such command: " + args[0], nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = ToolArguments(argc, argv);
  if (args.empty()) return Usage("no command given", nullptr);
  std::string command = args[0];
  args.erase(args.begin());
  if (IsHelp(command)) return Help(kToolHelp);
  if (command == "--version") return Help(kVersion);
  if (command == "help") return HelpCommand(args);
  if (command == "pack") return Pack(args);
  if (command == "list") return List(args);
  if (command == "verify") return Verify(args);
  if (command == "apply") return Apply(args);
  if (command == "check") return Check(args);
  return Usage("unknown command: " + command, nullptr);
}
