// omr72-recorder: one emulated recorder and host (the same model as omr72-sim's) served to a
// client outside the process, over a Unix stream socket or standard input and output, in the
// messages of docs/RECORDER_PROTOCOL.md. The options that configure the recorder, its faults
// and the --trace and --state files are omr72-sim's.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/recorder_session.h"
#include "platform/native.h"
#include "tools/recorder/message_stream.h"
#include "tools/sim/sim_output.h"
#include "tools/sim/simulation.h"

namespace {

using omr72::emu::RecorderSession;
using omr72::recorder::ReadResult;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
  stopRequested = 1;
}

const char kUsageHead[] =
    "Usage: omr72-recorder (--socket PATH | --stdio) [OPTION]...\n"
    "Serves one emulated Orlo Mica R72 recorder and its host to one client at a time.\n"
    "  --socket PATH               a Unix stream socket; clients are served one after another\n"
    "                              until one sends SHUTDOWN or the process is signalled\n"
    "  --stdio                     messages on standard input and output (pipes, FIFOs)\n"
    "The messages are described in docs/RECORDER_PROTOCOL.md.\n"
    "\n";

struct Transport {
  std::optional<std::string> socketPath;
  bool stdio = false;
};

// Takes the transport options out of argv; the rest is omr72-sim's command line.
std::optional<std::string> SplitTransport(int argc, char** argv, Transport& transport,
                                          std::vector<const char*>& rest) {
  rest.push_back(argc > 0 ? argv[0] : "omr72-recorder");
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--stdio") {
      transport.stdio = true;
    } else if (arg == "--socket" || arg.rfind("--socket=", 0) == 0) {
      std::string path = arg.size() > 8 ? arg.substr(9) : "";
      if (arg == "--socket") {
        if (i + 1 >= argc) return "--socket needs a value: a socket path";
        path = argv[++i];
      }
      if (path.empty()) return "--socket needs a value: a socket path";
      transport.socketPath = path;
    } else {
      rest.push_back(argv[i]);
    }
  }
  return std::nullopt;
}

// Requests until the client goes away, sends SHUTDOWN, or a signal stops the process.
void Serve(int in, int out, RecorderSession& session) {
  omr72::emu::protocol::Message request;
  while (!session.shutdownRequested()) {
    const ReadResult result = omr72::recorder::ReadMessage(in, request);
    if (result == ReadResult::kTooLarge) {
      omr72::recorder::WriteMessage(
          out, omr72::emu::protocol::ErrorReply(omr72::emu::protocol::kTooLarge,
                                                "message length 0 or over the limit"));
      return;
    }
    if (result != ReadResult::kMessage) return;
    if (!omr72::recorder::WriteMessage(out, session.Handle(request))) return;
  }
}

std::optional<std::string> ServeSocket(const std::string& path, RecorderSession& session) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return "socket path too long: " + path;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // A socket left behind by an earlier run is replaced; any other file is not.
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) unlink(path.c_str());

  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return std::string("socket: ") + std::strerror(errno);
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4) != 0) {
    const std::string error = "cannot listen on " + path + ": " + std::strerror(errno);
    close(listener);
    return error;
  }
  while (!stopRequested && !session.shutdownRequested()) {
    if (!omr72::recorder::WaitReadable(listener)) break;
    const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
    Serve(client, client, session);
    close(client);
    session.CloseAll();
  }
  close(listener);
  unlink(path.c_str());
  return std::nullopt;
}

void HandleSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked accept or read returns and sees the flag
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  omr72::recorder::StopOnFlag(&stopRequested);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace omr72;
  Transport transport;
  std::vector<const char*> simArguments;
  sim::SimOptions options;
  std::optional<std::string> error = SplitTransport(argc, argv, transport, simArguments);
  if (!error) {
    error =
        sim::ParseSimOptions(static_cast<int>(simArguments.size()), simArguments.data(), options);
  }
  if (!error && options.help) {
    std::fputs(kUsageHead, stdout);
    std::fputs(sim::kSimModelOptionsHelp, stdout);
    return 0;
  }
  if (!error && !options.programArguments.empty()) {
    error = "unexpected argument '" + options.programArguments[0] + "' (see --help)";
  }
  if (!error && transport.stdio == transport.socketPath.has_value()) {
    error = "give either --socket PATH or --stdio (see --help)";
  }
  sim::SimOutput output(options);
  if (!error) error = output.Open();
  if (error) {
    std::fprintf(stderr, "omr72-recorder: %s\n", error->c_str());
    return 2;
  }

  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  const std::string modulePath = module->Path(simArguments[0]);
  sim::Simulation simulation(options, options.realisticLatency.value_or(false),
                             sim::ReadKnownImages(*module, modulePath));
  output.Attach(simulation.host());
  RecorderSession session(simulation.host());
  HandleSignals();

  int exitCode = 0;
  if (transport.stdio) {
    Serve(STDIN_FILENO, STDOUT_FILENO, session);
  } else if (auto failure = ServeSocket(*transport.socketPath, session)) {
    std::fprintf(stderr, "omr72-recorder: %s\n", failure->c_str());
    exitCode = 2;
  }
  if (auto failure = output.Finish(simulation.host())) {
    std::fprintf(stderr, "omr72-recorder: %s\n", failure->c_str());
  }
  return exitCode;
}
