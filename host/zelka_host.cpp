// zelka-host: a command-line host for the module. With a terminal on stdin it opens an
// interactive session; --play runs a session from a file and prints its transcript; pipe
// mode (--pipe, and the default for redirected input that begins with a request line) speaks
// raw protocol text on stdin and stdout. The author tools scramble, unscramble, check and render work on files
// only.
//
// Sessions and pipe mode print what the module reports went wrong (module_problems.h): after
// the load, during a session below the talk that caused it, and after the unload. The exit
// status is 3 when something learned could not be saved, 1 when the module did not load or
// lines of a play file failed, 2 for a wrong command line, 0 otherwise.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "config/zelka_config.h"
#include "ghost_check.h"
#include "knowledge_tools.h"
#include "learned_graph.h"
#include "learned_report.h"
#include "line_editor.h"
#include "module_client.h"
#include "module_problems.h"
#include "pipe_session.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "session.h"
#include "store_census.h"
#include "talk_renderer.h"
#include "terminal_text.h"
#include "vendor_watch.h"

namespace {

using namespace zelka::host;

void printUsage(std::ostream& out) {
  out << "usage: zelka-host [options] GHOST_DIR          a session (interactive on a terminal,\n"
         "                                               pipe mode when stdin is redirected\n"
         "                                               and begins with a request line)\n"
         "       zelka-host --play FILE [options] GHOST_DIR   play a session file, print its transcript\n"
         "       zelka-host --pipe [--module PATH] GHOST_DIR  raw requests in, raw responses out\n"
         "       zelka-host scramble IN.tlk OUT.tlc      write the complemented form of a knowledge file\n"
         "       zelka-host unscramble IN.tlc OUT.tlk    write the plain form back\n"
         "       zelka-host check [--brief] [--strict] GHOST_DIR\n"
         "                                               lint the ghost: what a load would read and\n"
         "                                               every mistake found (changes nothing)\n"
         "       zelka-host learned [--limit N] [--since SNAPSHOT] [--save-snapshot FILE] GHOST_DIR\n"
         "                                               what the ghost has learned, in words\n"
         "       zelka-host graph GHOST_DIR -o FILE.svg [--root WORD] [--depth N] [--max-nodes N]\n"
         "                        [--words N]            the same as a picture\n"
         "       zelka-host render [--names MAIN[,PARTNER]] [FILE]\n"
         "                                               show talk text (Shift_JIS, one talk a line)\n"
         "                                               as a session shows it\n"
         "options:\n"
         "  --play FILE        run the commands of FILE (- for stdin); one per line, # comments\n"
         "  --interactive, -i  an interactive session even when stdin is not a terminal\n"
         "  --pipe             pipe mode\n"
         "  --sender NAME      who speaks the plain lines of a session (default User)\n"
         "  --names MAIN[,PARTNER]  the names shown for \\0 and \\1 (default: the configured\n"
         "                     ghost_name, and Partner)\n"
         "  --protocol 3.0     speak SHIORI/3.0 in a session: UTF-8 requests, Value answers, the\n"
         "                     problems an answer reports are shown (default 2.x)\n"
         "  --raw              print responses exactly as received\n"
         "  --no-boot          neither OnBoot at the start nor OnClose at the end\n"
         "  --comments         print the play file's # comments in the transcript\n"
         "  --seed N           seed the ghost's random choices with N (0 to 4294967295): the same\n"
         "                     play file with the same seed gives the same transcript\n"
         "  --first-think-wait end|later|MS  how long a heard sentence waits for the ghost's\n"
         "                     thought before the answer is left to a later second (default\n"
         "                     500 ms; end with --seed)\n"
         "  --watch            read the knowledge files again (as :reload does) when a file in\n"
         "                     the vendor folder has changed, checked before each line\n"
         "  --stats            print the size of the learned stores before loading and after\n"
         "                     unloading\n"
         "  --color, --no-color  dim tags and notes (default: when stdout is a terminal)\n"
         "  --module PATH      the module to load (default: zelka.so beside this program)\n"
         "In a session, :help lists the commands.\n"
         "Problems the module reports (a file it refused, a script error, a store it could\n"
         "not save) are shown as they happen. Exit status: 0 done, 1 the module did not load\n"
         "or play lines failed, 2 usage, 3 something learned could not be saved.\n";
}

struct Arguments {
  std::string ghostDirectory;
  std::string modulePath;
  std::string playFile;
  bool pipe = false;
  bool interactive = false;
  bool stats = false;
  bool watch = false;
  std::optional<std::string> seed;            // --seed: ZELKA_RANDOM_SEED for the module
  std::optional<std::string> firstThinkWait;  // --first-think-wait: ZELKA_FIRST_THINK_WAIT
  std::string names;
  int color = -1;  // -1: decide by the terminal
  SessionOptions session;
};

bool stdoutIsColourTerminal() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) != 0 && (noColor == nullptr || *noColor == '\0') &&
         (term == nullptr || std::string(term) != "dumb");
}

// Checks the ghost directory before the module is asked to load it, so that the usual
// mistakes get a message that names them.
bool ghostDirectoryUsable(std::string& directory) {
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error)) {
    std::cerr << "zelka-host: no ghost directory at " << directory << "\n";
    return false;
  }
  if (directory.back() != '/') directory += '/';
  if (!std::filesystem::exists(directory + "zelkaconf.xml", error)) {
    std::cerr << "zelka-host: " << directory
              << " has no zelkaconf.xml (the ghost's configuration); is it a ghost directory?\n";
    return false;
  }
  zelka::ZelkaConfig config;
  if (!config.read(zelka::pathToWide(directory).value_or(std::u16string()))) {
    std::cerr << "zelka-host: " << directory
              << "zelkaconf.xml cannot be read as XML; zelka-host check " << directory
              << " tells more\n";
    return false;
  }
  return true;
}

// The vendor folder, named as the module names it: in path text, like the ghost directory.
std::string vendorDirectoryOf(const std::string& ghostDirectory) {
  zelka::ZelkaConfig config(zelka::pathToWide(ghostDirectory).value_or(std::u16string()));
  return ghostDirectory +
         zelka::pathFromWide(config.directory(u"Directory", u"vender")).value_or(std::string());
}

// Hands --seed and --first-think-wait to the module through the environment it reads at load
// (the reflex events run inside the load, so a request after it would come too late). A seed
// alone also makes every heard sentence wait for its pass ("end"), so that no answer depends
// on the machine's speed. False, reported, for a value the module would ignore.
bool handOverRepeatability(const Arguments& args) {
  if (args.seed) {
    const std::string& seed = *args.seed;
    if (seed.empty() || seed.size() > 10 || seed.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(seed) > 0xFFFFFFFFULL) {
      std::cerr << "zelka-host: --seed needs a number from 0 to 4294967295, not '" << seed
                << "'\n";
      return false;
    }
    setenv("ZELKA_RANDOM_SEED", seed.c_str(), 1);
  }
  std::optional<std::string> wait = args.firstThinkWait;
  if (!wait && args.seed) wait = "end";
  if (wait) {
    const bool known = *wait == "end" || *wait == "later" ||
                       (!wait->empty() && wait->size() <= 5 &&
                        wait->find_first_not_of("0123456789") == std::string::npos &&
                        std::stoul(*wait) <= 60000);
    if (!known) {
      std::cerr << "zelka-host: --first-think-wait takes end, later or milliseconds up to "
                   "60000, not '"
                << *wait << "'\n";
      return false;
    }
    setenv("ZELKA_FIRST_THINK_WAIT", wait->c_str(), 1);
  }
  return true;
}

// An interrupt ends the session the ordinary way (the read returns), so the ghost is
// unloaded and saves what it learned.
void onInterrupt(int) {}

// The exit status of a session when something learned could not be saved.
constexpr int kExitNotSaved = 3;

std::function<std::optional<std::string>(const std::string&)> sender(ModuleClient& module) {
  return [&module](const std::string& text) { return module.request(text); };
}

// A load that failed: what the module says about it, then the host's own line.
int reportFailedLoad(ModuleClient& module, const std::string& hint) {
  printProblems(takeProblems(sender(module)), std::cerr, "zelka: ");
  std::cerr << "zelka-host: " << module.error() << hint << "\n";
  module.close();
  return 1;
}

int notSavedStatus(int critical) {
  if (critical == 0) return 0;
  std::cerr << "zelka-host: something the ghost learned could not be saved (see above)\n";
  return kExitNotSaved;
}

void catchInterrupt() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the blocked read returns
  sigaction(SIGINT, &action, nullptr);
}

int runSession(Arguments& args, bool interactive) {
  std::unique_ptr<std::ifstream> playStream;
  std::istream* input = &std::cin;
  if (!interactive && args.playFile != "-") {
    playStream = std::make_unique<std::ifstream>(args.playFile, std::ios::binary);
    if (!*playStream) {
      std::cerr << "zelka-host: cannot read the play file " << args.playFile << "\n";
      return 1;
    }
    input = playStream.get();
  }

  zelka::ZelkaConfig config(zelka::pathToWide(args.ghostDirectory).value_or(std::u16string()));
  TalkStyle& style = args.session.style;
  style.mainName = zelka::utf16ToUtf8(config.profile(u"ghost_name"));
  if (style.mainName.empty()) style.mainName = "Zelka";
  if (!args.names.empty()) {
    const std::size_t comma = args.names.find(',');
    style.mainName = args.names.substr(0, comma);
    if (comma != std::string::npos) style.partnerName = args.names.substr(comma + 1);
  }
  style.color = args.color < 0 ? stdoutIsColourTerminal() : args.color == 1;

  const std::string learning = learningDirectoryOfGhost(args.ghostDirectory);
  const LearnedStores before = countLearnedStores(learning);

  ModuleClient module;
  if (!module.open(args.modulePath)) {
    std::cerr << "zelka-host: " << module.error() << "\n";
    return 1;
  }
  if (!module.load(args.ghostDirectory)) {
    return reportFailedLoad(module, "; zelka-host check " + args.ghostDirectory +
                                        " tells what it would read");
  }
  // The load created missing stores and imported waiting dictionaries, and saved both.
  const LearnedStores loaded = countLearnedStores(learning);
  std::unique_ptr<LineEditor> editor;
  if (interactive && isatty(STDIN_FILENO) != 0) {
    editor = std::make_unique<LineEditor>(defaultHistoryFile());
    args.session.readLine = [&editor](const std::string& prompt) {
      return editor->readLine(prompt);
    };
  }
  if (interactive) {
    catchInterrupt();
    std::cout << "zelka-host: " << style.mainName << " is loaded from " << args.ghostDirectory
              << "; :help lists the commands, :quit saves and leaves\n";
  }

  // :learned reads the files: the module saves them itself and offers the host no way to ask.
  args.session.showLearned = [learning, name = style.mainName](std::ostream& out) {
    printSavedLearned(learning, name, out);
  };
  args.session.reload = [&module, &args](std::string& error) {
    module.unload();
    if (module.load(args.ghostDirectory)) return true;
    error = module.error() + "; the ghost stays unloaded until a :reload succeeds";
    return false;
  };
  if (args.watch) {
    // Watched from after the load: the load itself may set imported dictionaries aside.
    auto watch = std::make_shared<VendorWatch>(vendorDirectoryOf(args.ghostDirectory));
    args.session.vendorChanged = [watch] { return watch->changed(); };
  }
  Session session(sender(module), std::cout, std::cerr, args.session);
  session.reportProblems();  // of the load: files refused, stores kept aside
  session.start();
  const int failures = session.run(*input, interactive ? InputMode::kInteractive : InputMode::kPlay,
                                   interactive ? std::string("stdin") : args.playFile);
  session.finish();
  module.unload();           // the stores and the variables are saved
  session.reportProblems();  // of the unload: what could not be saved
  module.close();

  if (args.stats) {
    const LearnedStores after = countLearnedStores(learning);
    std::cout << "learned stores (" << learning << "):\n"
              << storeTable({{"before load", before}, {"after load", loaded},
                             {"after unload", after}},
                            "  ");
  }
  std::cout.flush();
  const int notSaved = notSavedStatus(session.criticalProblems());
  if (failures > 0 && !interactive) {
    std::cerr << "zelka-host: " << failures << (failures == 1 ? " line" : " lines") << " of "
              << args.playFile << " failed\n";
    if (notSaved == 0) return 1;
  }
  return notSaved;
}

int runPipe(const Arguments& args, std::istream& in) {
  ModuleClient module;
  if (!module.open(args.modulePath)) {
    std::cerr << "zelka-host: " << module.error() << "\n";
    return 1;
  }
  if (!module.load(args.ghostDirectory)) return reportFailedLoad(module, "");
  // Standard output carries exactly the responses to the requests read: the problems are
  // asked for only after the load and after the unload, and go to the error stream.
  int critical = printProblems(takeProblems(sender(module)), std::cerr, "zelka: ");
  runPipeSession(in, std::cout, std::cerr, sender(module));
  module.unload();
  critical += printProblems(takeProblems(sender(module)), std::cerr, "zelka: ");
  module.close();
  return notSavedStatus(critical);
}

// Renders Shift_JIS talk, one talk per line, from a file or stdin.
int runRender(int argc, char** argv) {
  TalkStyle style;
  std::string file;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--names" && i + 1 < argc) {
      const std::string names = argv[++i];
      const std::size_t comma = names.find(',');
      style.mainName = names.substr(0, comma);
      if (comma != std::string::npos) style.partnerName = names.substr(comma + 1);
    } else if (file.empty() && (arg == "-" || arg.empty() || arg[0] != '-')) {
      file = arg;
    } else {
      std::cerr << "usage: zelka-host render [--names MAIN[,PARTNER]] [FILE]\n";
      return 2;
    }
  }
  style.color = stdoutIsColourTerminal();
  std::ifstream stream;
  std::istream* in = &std::cin;
  if (!file.empty() && file != "-") {
    stream.open(file, std::ios::binary);
    if (!stream) {
      std::cerr << "zelka-host: cannot read " << file << "\n";
      return 1;
    }
    in = &stream;
  }
  std::string line;
  while (std::getline(*in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) std::cout << renderTalk(line, style);
  }
  return 0;
}

int runTool(int argc, char** argv) {
  const std::string tool = argv[1];
  if (tool == "render") return runRender(argc, argv);
  if (tool == "check") {
    CheckOptions options;
    std::optional<std::string> directory;
    for (int i = 2; i < argc; ++i) {
      const std::string argument = argv[i];
      if (argument == "--brief") {
        options.brief = true;
      } else if (argument == "--strict") {
        options.strict = true;
      } else if (!directory && !argument.starts_with("--")) {
        directory = argument;
      } else {
        directory.reset();
        break;
      }
    }
    if (!directory) {
      std::cerr << "usage: zelka-host check [--brief] [--strict] GHOST_DIR\n";
      return 2;
    }
    adoptPathEncoding(*directory);
    return checkGhost(*directory, std::cout, options);
  }
  if (argc != 4) {
    std::cerr << "usage: zelka-host " << tool << " IN OUT\n";
    return 2;
  }
  return tool == "scramble" ? scrambleFile(argv[2], argv[3], std::cerr)
                            : unscrambleFile(argv[2], argv[3], std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) {
    const std::string first = argv[1];
    if (first == "check" || first == "scramble" || first == "unscramble" || first == "render") {
      return runTool(argc, argv);
    }
    if (first == "learned") return runLearned(argc, argv, std::cout, std::cerr);
    if (first == "graph") return runGraph(argc, argv, std::cout, std::cerr);
  }

  Arguments args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--pipe") {
      args.pipe = true;
    } else if (arg == "--interactive" || arg == "-i") {
      args.interactive = true;
    } else if (arg == "--raw") {
      args.session.raw = true;
    } else if (arg == "--no-boot") {
      args.session.boot = false;
    } else if (arg == "--comments") {
      args.session.showComments = true;
    } else if (arg == "--watch") {
      args.watch = true;
    } else if (arg == "--stats") {
      args.stats = true;
    } else if (arg == "--color") {
      args.color = 1;
    } else if (arg == "--no-color") {
      args.color = 0;
    } else if (arg == "--module" && hasValue) {
      args.modulePath = argv[++i];
    } else if (arg == "--play" && hasValue) {
      args.playFile = argv[++i];
    } else if (arg == "--protocol" && hasValue) {
      const std::string version = argv[++i];
      if (version != "3.0" && version != "2.x") {
        std::cerr << "zelka-host: --protocol is 3.0 or 2.x, not " << version << "\n";
        return 2;
      }
      args.session.shiori3 = version == "3.0";
    } else if (arg == "--seed" && hasValue) {
      args.seed = argv[++i];
    } else if (arg == "--first-think-wait" && hasValue) {
      args.firstThinkWait = argv[++i];
    } else if (arg == "--sender" && hasValue) {
      args.session.sender = argv[++i];
    } else if (arg == "--names" && hasValue) {
      args.names = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      printUsage(std::cout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "zelka-host: unknown option " << arg << " (or it lacks its value)\n";
      printUsage(std::cerr);
      return 2;
    } else if (args.ghostDirectory.empty()) {
      args.ghostDirectory = arg;
    } else {
      std::cerr << "zelka-host: more than one ghost directory\n";
      return 2;
    }
  }
  if (args.ghostDirectory.empty()) {
    printUsage(std::cerr);
    return 2;
  }
  const int modes = int(args.pipe) + int(args.interactive) + int(!args.playFile.empty());
  if (modes > 1) {
    std::cerr << "zelka-host: choose one of --pipe, --interactive and --play\n";
    return 2;
  }
  std::string senderSjis, error;
  if (!terminalToShiftJis(args.session.sender, senderSjis, error)) {
    std::cerr << "zelka-host: --sender: " << error << "\n";
    return 2;
  }
  if (!terminalToShiftJis(args.names, senderSjis, error)) {
    std::cerr << "zelka-host: --names: " << error << "\n";
    return 2;
  }
  adoptPathEncoding(args.ghostDirectory);
  if (!handOverRepeatability(args)) return 2;
  if (!ghostDirectoryUsable(args.ghostDirectory)) return 1;
  if (args.modulePath.empty()) args.modulePath = executableDirectory() + "zelka.so";

  if (!args.playFile.empty()) return runSession(args, false);
  const bool interactive = args.interactive || (!args.pipe && isatty(STDIN_FILENO) != 0);
  if (interactive) return runSession(args, true);
  if (args.pipe) return runPipe(args, std::cin);
  // Redirected input without --pipe: protocol requests are still served as before, but lines
  // meant for a session get a message instead of a 500 for each.
  std::string firstLine;
  if (!readFirstLine(std::cin, firstLine) || looksLikeRequestLine(firstLine)) {
    PrefixedInput input(firstLine, std::cin);
    return runPipe(args, input.stream());
  }
  std::cerr << "zelka-host: the input is not a terminal and does not begin with a protocol "
               "request line (such as GET Sentence SHIORI/2.2).\n"
               "  To run its lines as a session (sentences and :commands), use --play -\n"
               "  To send raw protocol requests, use --pipe\n"
               "  For a prompting session anyway, use --interactive\n";
  return 2;
}
