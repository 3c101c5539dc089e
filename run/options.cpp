// options: the command line and the data folder check; see options.h.
// The toolkit's options are only recognised and passed on here: glutInit gives them meaning.
#include "run/options.h"

#include <sys/stat.h>

#include <cassert>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// The options glutInit reads, and whether each takes the next argument as its value.
struct toolkitoption {
  const char* name;  // as typed, with its one '-'
  bool value;        // true when the next argument belongs to it
};
const toolkitoption toolkitoptions[] = {
    {"-display", true}, {"-geometry", true}, {"-direct", false}, {"-indirect", false},
    {"-iconic", false}, {"-gldebug", false}, {"-sync", false},
};

const toolkitoption* findtoolkit(const char* arg) {
  for (const toolkitoption& t : toolkitoptions)
    if (strcmp(arg, t.name) == 0) return &t;
  return nullptr;
}

}  // namespace

options parseoptions(int argc, char** argv) {
  assert(argc >= 1 && argv && argv[0] && "parseoptions: needs argv[0], as main receives it");
  options o;
  o.toolkit.push_back(argv[0]);
  bool help = false, version = false, folders_only = false;
  std::string refusal;  // the first ID that cannot be used
  auto mistake = [&o](const std::string& line) {
    if (o.mistake.empty()) o.mistake = line;
  };
  for (int i = 1; i < argc; i++) {
    char* arg = argv[i];
    const toolkitoption* t = folders_only ? nullptr : findtoolkit(arg);
    if (t) {
      o.toolkit.push_back(arg);
      if (!t->value) continue;
      if (i + 1 == argc) {
        mistake(std::string(arg) + " needs a value");
        break;
      }
      o.toolkit.push_back(argv[++i]);
    } else if (folders_only || arg[0] != '-' || arg[1] == '\0') {
      if (o.folder) mistake(std::string("more than one data folder: ") + o.folder + ", " + arg);
      o.folder = arg;
    } else if (strcmp(arg, "--") == 0) {
      folders_only = true;
    } else if (strcmp(arg, "--window") == 0) {
      o.window = true;
    } else if (strcmp(arg, "--participant") == 0 || strcmp(arg, "--session") == 0) {
      const char*& id = arg[2] == 'p' ? o.participant : o.session;
      if (id) mistake(std::string(arg) + " given twice");
      if (i + 1 == argc) {
        mistake(std::string(arg) + " needs a value");
        break;
      }
      id = argv[++i];
      const std::string why = idproblem(id);
      if (!why.empty() && refusal.empty()) refusal = std::string(arg) + " " + why;
    } else if (strcmp(arg, "--seed") == 0) {
      const char* n = i + 1 < argc ? argv[++i] : "";
      char* end = nullptr;
      errno = 0;
      const unsigned long long v = strtoull(n, &end, 10);
      if (!isdigit(static_cast<unsigned char>(n[0])) || *end || errno || v > 4294967295ull)
        mistake(std::string("--seed needs a whole number from 0 to 4294967295, not '") + n + "'");
      else
        o.seed = static_cast<long long>(v);
    } else if (strcmp(arg, "--help") == 0) {
      help = true;
    } else if (strcmp(arg, "--version") == 0) {
      version = true;
    } else {
      mistake(std::string("unknown option ") + arg);
    }
  }
  o.what = !o.mistake.empty() ? options::usage
           : help             ? options::help
           : version          ? options::version
           : !refusal.empty() ? options::refused
                              : options::run;
  if (o.what == options::refused) o.mistake = refusal;
  return o;
}

std::string idproblem(const char* id) {
  const size_t length = strlen(id);
  std::string shown;  // the ID as given, cut at 80, every byte outside printable ASCII as \xHH
  const char* fault = nullptr;
  for (size_t i = 0; i < length; i++) {
    const unsigned char c = static_cast<unsigned char>(id[i]);
    const bool printable = c >= 0x20 && c <= 0x7e;
    if (!printable && !fault) fault = "holds a character that is not printable ASCII";
    if ((c == '/' || c == '\\') && !fault) fault = "holds a '/' or '\\'";
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", c);
    if (i < 80) shown += printable ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  std::string count;
  if (length > 64) count = "is " + std::to_string(length) + " characters long";
  if (length == 0) fault = "is empty";
  if (!fault && count.empty()) return "";
  return (length ? "\"" + shown + (length > 80 ? "...\" " : "\" ") : std::string()) +
         (fault ? fault : count.c_str()) +
         ": an ID is 1 to 64 printable ASCII characters other than '/' and '\\'";
}

std::string usagetext() {
  return "usage: spatialmemory [OPTIONS] [DATA_FOLDER]\n"
         "Runs the spatial memory experiment full screen, reading settings.txt from DATA_FOLDER\n"
         "and writing the results files there. Without DATA_FOLDER the data folder is the one\n"
         "before the last '.' of the program's path, or the current folder when there is none.\n"
         "\n"
         "Options:\n"
         "  --window          a pilot run in a 1024x768 window, the pointer always visible\n"
         "  --participant ID  the participant, recorded with the run: 1 to 64 printable\n"
         "                    ASCII characters other than '/' and '\\'\n"
         "  --session ID      the session, recorded likewise\n"
         "  --seed N          seeds N, N + 1, ... instead of the clock's: the same trials,\n"
         "                    cells and noise on every machine (a scripted run)\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "  --                every later argument is the DATA_FOLDER, even one starting with '-'\n"
         "\n"
         "Passed on to the toolkit (freeglut):\n"
         "  -display NAME  -geometry WxH+X+Y  -direct  -indirect  -iconic  -gldebug  -sync\n";
}

bool takefolder(const char* folder, char* out, int size, std::string* why) {
  assert(folder && out && why && size > 0 && "takefolder: needs a folder, room and a reason");
  // Trailing slashes go, as the map joins the folder and a file name with one; "/" becomes "",
  // which the map joins into "/settings.txt".
  size_t length = strlen(folder);
  while (length > 0 && folder[length - 1] == '/') length--;
  const char* reason = nullptr;
  std::string toolong;
  struct stat st;
  if (stat(folder, &st) != 0) {
    reason = strerror(errno);
  } else if (!S_ISDIR(st.st_mode)) {
    reason = "not a folder";
  } else if (length >= static_cast<size_t>(size)) {
    toolong = "its name is longer than " + std::to_string(size - 1) + " characters";
    reason = toolong.c_str();
  }
  if (reason) {
    *why = std::string("cannot use the data folder ") + folder + ": " + reason;
    return false;
  }
  memcpy(out, folder, length);
  out[length] = '\0';
  return true;
}
