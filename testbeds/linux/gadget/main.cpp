// omr72-usb-gadget: the emulated recorder of omr72-sim as a USB device of the test bed's guest.
//
//   omr72-usb-gadget --case DIR [--program PATH] [--user UID] [--gap-ms MS] [--timeout S]
//                    [omr72-sim options] [program arguments]
//
// Builds the recorder's two faces (the boot loader's vendor-specific device 10C4:4512 and the
// mass-storage disk) and any foreign disks as configfs gadgets served through FunctionFS on the
// dummy host controller, attaches the face the model shows, then runs PATH (the updater by
// default) with DIR/keys on standard input and its standard output in DIR/transcript. Whenever
// the model restarts, the device leaves the bus once its answer is out and comes back with the
// face the model then shows, MS milliseconds later. Writes DIR/trace, DIR/state and DIR/exit.
#include <fcntl.h>
#include <grp.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "emulator/recorder.h"
#include "platform/native.h"
#include "testbeds/linux/gadget/bulk_only.h"
#include "testbeds/linux/gadget/functionfs.h"
#include "testbeds/linux/gadget/recorder_adapter.h"
#include "tools/sim/simulation.h"

namespace omr72::testbed {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using emu::Face;
using emu::Recorder;

constexpr uint16_t kRecorderVendorId = 0x10C4;
constexpr uint16_t kRecorderProductId = 0x4512;
constexpr uint16_t kDiskFaceProductId = 0x4513;  // not looked for by anything
constexpr uint16_t kForeignVendorId = 0x0781;
constexpr uint16_t kForeignProductId = 0x5567;
constexpr uint8_t kGetMaxLun = 0xFE;
constexpr uint8_t kBulkOnlyReset = 0xFF;
constexpr auto kPollEvery = std::chrono::milliseconds(10);
constexpr auto kVisibleWithin = std::chrono::seconds(30);

struct GadgetOptions {
  std::string caseDir;
  std::string program = "/opt/omr72/omr72-updater";
  int user = -1;
  int gapMs = 1500;
  int replugAfterMs = 3000;
  bool restartEarly = false;  // leave the bus before answering the command that restarted
  int replugStuckMs = 0;      // re-plug when the program sends nothing but INQUIRY that long
  int timeoutSeconds = 300;
  sim::SimOptions sim;
};

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
  static const Clock::time_point start = Clock::now();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::fprintf(stderr, "%8.3f ", seconds);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

bool ParseArguments(int argc, char** argv, GadgetOptions& options) {
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--case" && hasValue) {
      options.caseDir = argv[++i];
    } else if (arg == "--program" && hasValue) {
      options.program = argv[++i];
    } else if (arg == "--user" && hasValue) {
      options.user = std::atoi(argv[++i]);
    } else if (arg == "--gap-ms" && hasValue) {
      options.gapMs = std::atoi(argv[++i]);
    } else if (arg == "--replug-after-ms" && hasValue) {
      options.replugAfterMs = std::atoi(argv[++i]);
    } else if (arg == "--restart-early") {
      options.restartEarly = true;
    } else if (arg == "--replug-stuck-ms" && hasValue) {
      options.replugStuckMs = std::atoi(argv[++i]);
    } else if (arg == "--timeout" && hasValue) {
      options.timeoutSeconds = std::atoi(argv[++i]);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (auto error = sim::ParseSimOptions(static_cast<int>(rest.size()), rest.data(), options.sim)) {
    std::fprintf(stderr, "omr72-usb-gadget: %s\n", error->c_str());
    return false;
  }
  return !options.caseDir.empty();
}

DeviceSpec UsbFaceSpec() {
  // Pipe 0 is an IN endpoint nobody uses; pipe 1 the write pipe, pipe 2 the read pipe.
  return {"omr72usb", kRecorderVendorId,   kRecorderProductId,
          0xFF,       "OMR72 boot loader", {0xFF, 0, 0, {{true}, {false}, {true}}}};
}

DeviceSpec DiskSpec(const std::string& name, uint16_t vendorId, uint16_t productId) {
  // SCSI transparent command set over Bulk-Only: bulk IN, bulk OUT.
  return {name, vendorId, productId, 0, "Mass Storage", {0x08, 0x06, 0x50, {{true}, {false}}}};
}

// A disk on the bus: the recorder's disk face or a foreign disk.
struct DiskFunction {
  std::unique_ptr<FunctionFsDevice> device;
  SmallDisk kernelCommands;
  std::unique_ptr<ScsiDrive> foreignDrive;  // foreign disks only
  int programCommands = 0;                  // 16-byte command blocks
  int programInquiries = 0;                 // of which INQUIRY
};

class Gadget {
 public:
  Gadget(const GadgetOptions& options, emu::KnownImages images)
      : options_(options), host_(Configure(options.sim.recorder), std::move(images)) {}

  int Run();

 private:
  static emu::RecorderConfig Configure(emu::RecorderConfig config) {
    // The kernel supplies the timing; the model only keeps its order of events.
    config.realisticLatency = false;
    return config;
  }

  bool CreateDevices();
  void StartThreads();
  void StopThreads();
  void ServeEp0(FunctionFsDevice& device, bool recorderUsb);
  void HandleUsbSetup(int ep0, const SetupPacket& setup);
  void HandleDiskSetup(int ep0, const SetupPacket& setup);
  void UsbWriteLoop();
  void UsbReadLoop();
  void DiskLoop(DiskFunction& disk, bool recorder);
  void FollowModel();
  void ServeOnce(int timeoutMs);
  void BindFace(Face face);
  bool WaitVisible(Face face, size_t disks);
  pid_t StartProgram();
  void WriteResults(int exitCode);

  const GadgetOptions options_;
  emu::EmulatedHost host_;
  std::string udc_;
  std::vector<std::string> foreignUdcs_;
  std::unique_ptr<FunctionFsDevice> usbFace_;
  DiskFunction diskFace_;
  std::map<int, DiskFunction> foreign_;  // by drive digit
  std::vector<std::thread> threads_;
  std::atomic<bool> stopping_{false};
  std::vector<pollfd> fds_;

  // Everything below is the model's side, under mutex_.
  std::mutex mutex_;
  std::condition_variable readReady_;
  Face bound_ = Face::kNone;
  uint32_t boundEpoch_ = 0;
  uint64_t generation_ = 0;  // changes whenever the recorder goes on or off the bus
  int busy_ = 0;             // answers still on their way to the host
  uint32_t nandReadLeft_ = 0;
  std::unique_ptr<UsbDevice> usb_;
  std::unique_ptr<ScsiDrive> drive_;
  Clock::time_point awaySince_ = Clock::now() - std::chrono::hours(1);
  Clock::time_point lastPoll_;
  Clock::time_point lastUsbRequest_;
  Clock::time_point lastProgress_;  // the last request of the program other than INQUIRY
  bool programRunning_ = false;
  int leaves_ = 0;
};

bool Gadget::CreateDevices() {
  const std::vector<std::string> udcs = DeviceControllers();
  if (udcs.empty()) {
    std::fprintf(stderr, "omr72-usb-gadget: no USB device controller (dummy_hcd not loaded?)\n");
    return false;
  }
  udc_ = udcs[0];
  foreignUdcs_.assign(udcs.begin() + 1, udcs.end());
  usbFace_ = std::make_unique<FunctionFsDevice>(UsbFaceSpec());
  diskFace_.device = std::make_unique<FunctionFsDevice>(
      DiskSpec("omr72disk", kRecorderVendorId, kDiskFaceProductId));
  if (!usbFace_->Create() || !diskFace_.device->Create()) return false;
  const std::vector<int>& foreign = options_.sim.recorder.foreignDisks;
  if (foreign.size() > foreignUdcs_.size()) {
    std::fprintf(stderr, "omr72-usb-gadget: %zu foreign disks but %zu spare controllers\n",
                 foreign.size(), foreignUdcs_.size());
    return false;
  }
  for (int drive : foreign) {
    DiskFunction& disk = foreign_[drive];
    disk.device = std::make_unique<FunctionFsDevice>(
        DiskSpec("foreign" + std::to_string(drive), kForeignVendorId, kForeignProductId));
    if (!disk.device->Create()) return false;
    disk.foreignDrive = OpenDrive(host_, drive);
  }
  return true;
}

// --- Control requests --------------------------------------------------------------------------

void Gadget::ServeEp0(FunctionFsDevice& device, bool recorderUsb) {
  usb_functionfs_event events[4];
  const ssize_t n = read(device.ep0(), events, sizeof events);
  for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof events[0]); ++i) {
    if (events[i].type != FUNCTIONFS_SETUP) continue;
    const usb_ctrlrequest& c = events[i].u.setup;
    const SetupPacket setup{c.bRequestType, c.bRequest, le16toh(c.wValue), le16toh(c.wIndex),
                            le16toh(c.wLength)};
    if (recorderUsb) {
      HandleUsbSetup(device.ep0(), setup);
    } else {
      HandleDiskSetup(device.ep0(), setup);
    }
  }
}

// FunctionFS: for a request with an IN data stage, writing answers and reading stalls; for
// an OUT request, reading takes the data stage (or acknowledges) and writing stalls. The data
// of an OUT request is in before the model sees it, so a failing OUT request with data cannot
// stall any more: the host sees it succeed.
void Gadget::HandleUsbSetup(int ep0, const SetupPacket& setup) {
  const bool in = (setup.requestType & USB_DIR_IN) != 0;
  std::vector<uint8_t> data(setup.length);
  if (!in && setup.length > 0 && read(ep0, data.data(), data.size()) != setup.length) return;
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastUsbRequest_ = lastProgress_ = Clock::now();
    const uint32_t epoch = host_.recorder().epoch();
    ok = RunControlRequest(usb_.get(), setup, data.data());
    if (options_.restartEarly && host_.recorder().epoch() != epoch) {
      Log("USB: restarted before answering");
      return;
    }
    if (ok && !in && NandReadBytesOpened(setup, data.data()) > 0) {
      nandReadLeft_ = NandReadBytesOpened(setup, data.data());
      readReady_.notify_all();
    }
  }
  if (in) {
    if (ok) {
      ssize_t written = write(ep0, data.data(), data.size());
      (void)written;
    } else {
      ssize_t stalled = read(ep0, nullptr, 0);
      (void)stalled;
    }
  } else if (setup.length == 0) {
    ssize_t done = ok ? read(ep0, nullptr, 0) : write(ep0, nullptr, 0);
    (void)done;
  }
}

void Gadget::HandleDiskSetup(int ep0, const SetupPacket& setup) {
  const bool in = (setup.requestType & USB_DIR_IN) != 0;
  ssize_t done = 0;
  if (in && setup.request == kGetMaxLun && setup.length >= 1) {
    const uint8_t maxLun = 0;
    done = write(ep0, &maxLun, 1);
  } else if (!in && setup.request == kBulkOnlyReset && setup.length == 0) {
    done = read(ep0, nullptr, 0);
  } else {
    done = in ? read(ep0, nullptr, 0) : write(ep0, nullptr, 0);
  }
  (void)done;
}

// --- Bulk endpoints ----------------------------------------------------------------------------

void Gadget::UsbWriteLoop() {
  std::vector<uint8_t> buffer(kMaxBulkChunk);
  const int ep = usbFace_->endpoint(1);
  while (!stopping_) {
    uint64_t generation;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      generation = generation_;
    }
    const ssize_t n = read(ep, buffer.data(), buffer.size());
    if (n < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) continue;  // sent to a device that has since left
    lastUsbRequest_ = Clock::now();
    RunBulkWrite(usb_.get(), buffer.data(), static_cast<uint32_t>(n));
  }
}

// The host's read length is not visible to a device: what a read set-up opened is offered in
// the pieces the driver moves at most, which is how the link reads it.
void Gadget::UsbReadLoop() {
  std::vector<uint8_t> buffer(kMaxBulkChunk);
  const int ep = usbFace_->endpoint(2);
  while (!stopping_) {
    uint32_t moved = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      readReady_.wait(lock, [&] { return stopping_ || nandReadLeft_ > 0; });
      if (stopping_) return;
      const uint32_t chunk = std::min(nandReadLeft_, kMaxBulkChunk);
      nandReadLeft_ -= chunk;
      RunBulkRead(usb_.get(), buffer.data(), chunk, moved);
    }
    if (moved > 0 && write(ep, buffer.data(), moved) < 0) Log("read pipe: answer dropped");
  }
}

void Gadget::DiskLoop(DiskFunction& disk, bool recorder) {
  std::vector<uint8_t> cbwBytes(512);
  const int in = disk.device->endpoint(0);
  const int out = disk.device->endpoint(1);
  while (!stopping_) {
    uint64_t generation;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      generation = generation_;
    }
    const ssize_t n = read(out, cbwBytes.data(), cbwBytes.size());
    if (n < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    const std::optional<Cbw> cbw = ParseCbw(cbwBytes.data(), static_cast<size_t>(n));
    if (!cbw) {
      Log("disk: %zd bytes that are no command block", n);
      continue;
    }
    const CommandBlock& command = cbw->command;
    std::vector<uint8_t> data(command.length, 0);
    if (!command.dataIn && command.length > 0) {
      for (size_t got = 0; got < data.size();) {
        const ssize_t m = read(out, data.data() + got, data.size() - got);
        if (m <= 0) break;
        got += static_cast<size_t>(m);
      }
    }
    uint8_t status = kStatusFailed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A command that came in for the device before it left is not answered to the next one.
      if (recorder && generation != generation_) continue;
      ScsiDrive* drive = recorder ? drive_.get() : disk.foreignDrive.get();
      const bool inquiry = command.cdb[0] == 0x12;
      const uint32_t epoch = host_.recorder().epoch();
      if (recorder && IsProgramCommand(command) && !inquiry) lastProgress_ = Clock::now();
      if (IsProgramCommand(command) || inquiry) {
        uint8_t scsiStatus = 0xFF;
        const bool done = RunDriveCommand(drive, command, data.data(), scsiStatus);
        status = done && scsiStatus == 0 ? kStatusGood : kStatusFailed;
        if (status != kStatusGood) disk.kernelCommands.SetIllegalRequest();
        if (IsProgramCommand(command)) {
          ++disk.programCommands;
          if (inquiry) ++disk.programInquiries;
        }
      } else {
        status = disk.kernelCommands.Answer(command, data.data());
      }
      if (recorder && options_.restartEarly && host_.recorder().epoch() != epoch) {
        Log("disk: restarted before answering");
        continue;
      }
      ++busy_;
    }
    if (command.dataIn && command.length > 0) {
      ssize_t written = write(in, data.data(), data.size());
      (void)written;
    }
    const auto csw = BuildCsw(cbw->tag, 0, status);
    if (write(in, csw.data(), csw.size()) != static_cast<ssize_t>(csw.size())) {
      Log("disk: status of command %02X not delivered: %s", command.cdb[0], std::strerror(errno));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --busy_;
  }
}

void Gadget::StartThreads() {
  threads_.emplace_back([this] { UsbWriteLoop(); });
  threads_.emplace_back([this] { UsbReadLoop(); });
  threads_.emplace_back([this] { DiskLoop(diskFace_, true); });
  for (auto& [drive, disk] : foreign_) {
    threads_.emplace_back([this, &disk = disk] { DiskLoop(disk, false); });
  }
}

void Gadget::StopThreads() {
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readReady_.notify_all();
  }
  usbFace_->Unbind();
  diskFace_.device->Unbind();
  for (auto& [drive, disk] : foreign_) disk.device->Unbind();
  for (std::thread& thread : threads_) thread.join();
}

// --- Comings and goings ------------------------------------------------------------------------

void Gadget::BindFace(Face face) {
  Recorder& r = host_.recorder();
  if (face == Face::kDisk) {
    diskFace_.device->Bind(udc_);
    drive_ = OpenDrive(host_, r.drive());
  } else {
    if (face == Face::kBoth) Log("both faces at once: only the USB face is attached");
    usbFace_->Bind(udc_);
    usb_ = OpenUsbFace(host_, r.usbName());
  }
  bound_ = face;
  boundEpoch_ = r.epoch();
  lastUsbRequest_ = lastProgress_ = Clock::now();
  ++generation_;
  Log("attached as %s", face == Face::kDisk ? "disk" : "USB boot loader");
}

// Called often from the main loop: takes the device off the bus once the model has restarted
// and its last answer is out, and attaches the face the model comes back with after the gap.
void Gadget::FollowModel() {
  std::lock_guard<std::mutex> lock(mutex_);
  Recorder& r = host_.recorder();
  const Clock::time_point now = Clock::now();
  if (bound_ != Face::kNone) {
    // The program is left waiting for a disk while the boot loader sits idle on USB: the user
    // re-plugs the recorder, as the model would have it.
    if (programRunning_ && bound_ == Face::kUsb && r.epoch() == boundEpoch_ &&
        now - lastUsbRequest_ >= std::chrono::milliseconds(options_.replugAfterMs)) {
      Log("idle on USB while the program runs: re-plugged");
      ReplugIfWaitedFor(host_);
      lastUsbRequest_ = now;
    }
    // A restart the host never noticed (the device was away too briefly) leaves the program
    // waiting for it to leave; the user ends that by re-plugging the recorder.
    if (programRunning_ && options_.replugStuckMs > 0 && r.epoch() == boundEpoch_ &&
        now - lastProgress_ >= std::chrono::milliseconds(options_.replugStuckMs)) {
      Log("nothing but presence tests for %d ms: re-plugged", options_.replugStuckMs);
      r.Restart();
      lastProgress_ = now;
    }
    if (r.epoch() == boundEpoch_ || busy_ > 0) return;
    Log("restart %d: leaving the bus", r.restarts());
    (bound_ == Face::kDisk ? *diskFace_.device : *usbFace_).Unbind();
    bound_ = Face::kNone;
    ++generation_;
    ++leaves_;
    usb_.reset();
    drive_.reset();
    nandReadLeft_ = 0;
    awaySince_ = now;
    Log("off the bus");
    return;
  }
  if (now - awaySince_ < std::chrono::milliseconds(options_.gapMs)) return;
  if (r.face() == Face::kNone && now - lastPoll_ >= kPollEvery) {
    lastPoll_ = now;
    PollPresence(host_);
  }
  if (r.face() != Face::kNone) BindFace(r.face());
}

size_t CountScsiGeneric() {
  std::error_code ec;
  size_t count = 0;
  for (auto it = fs::directory_iterator("/sys/class/scsi_generic", ec);
       !ec && it != fs::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

bool UsbDevicePresent(uint16_t vendorId, uint16_t productId) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", vendorId, productId);
  std::error_code ec;
  for (auto it = fs::directory_iterator("/sys/bus/usb/devices", ec);
       !ec && it != fs::directory_iterator(); ++it) {
    std::ifstream v(it->path() / "idVendor"), p(it->path() / "idProduct");
    std::string vendor, product;
    if (v >> vendor && p >> product && vendor + ":" + product == ids) return true;
  }
  return false;
}

// The face has enumerated and its drivers are bound, so the program finds it at once.
bool Gadget::WaitVisible(Face face, size_t disks) {
  const Clock::time_point deadline = Clock::now() + kVisibleWithin;
  while (Clock::now() < deadline) {
    const bool visible = face == Face::kDisk
                             ? CountScsiGeneric() >= disks
                             : UsbDevicePresent(kRecorderVendorId, kRecorderProductId);
    if (visible) return true;
    ServeOnce(20);  // the kernel asks for the maximum LUN while it binds usb-storage
  }
  Log("the device did not show up");
  return false;
}

// Owner, group and mode of the nodes the program opens, as the program finds them.
void LogNodes() {
  std::vector<fs::path> nodes;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator("/dev/bus/usb", ec);
       !ec && it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_character_file()) nodes.push_back(it->path());
  }
  for (auto it = fs::directory_iterator("/dev", ec); !ec && it != fs::directory_iterator(); ++it) {
    if (it->path().filename().string().rfind("sg", 0) == 0) nodes.push_back(it->path());
  }
  for (const fs::path& node : nodes) {
    struct stat st {};
    if (stat(node.c_str(), &st) != 0) continue;
    Log("node %s uid=%u gid=%u mode=%03o", node.c_str(), st.st_uid, st.st_gid, st.st_mode & 0777);
  }
}

pid_t Gadget::StartProgram() {
  const std::string dir = options_.caseDir;
  std::vector<std::string> args = {options_.program};
  args.insert(args.end(), options_.sim.programArguments.begin(),
              options_.sim.programArguments.end());
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int keys = open((dir + "/keys").c_str(), O_RDONLY);
  const int transcript = open((dir + "/transcript").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errors = open((dir + "/program.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(keys >= 0 ? keys : open("/dev/null", O_RDONLY), 0);
  dup2(transcript, 1);
  dup2(errors, 2);
  if (chdir(dir.c_str()) != 0) _exit(126);
  if (options_.user >= 0) {
    const passwd* user = getpwuid(static_cast<uid_t>(options_.user));
    if (user == nullptr || initgroups(user->pw_name, user->pw_gid) != 0 ||
        setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) {
      _exit(126);
    }
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void Gadget::WriteResults(int exitCode) {
  std::ofstream(options_.caseDir + "/exit") << exitCode << '\n';
  std::ofstream(options_.caseDir + "/state") << host_.StateJson() << '\n';
  std::ofstream counts(options_.caseDir + "/kernel-commands");
  auto list = [&](const char* name, const DiskFunction& disk) {
    counts << name << " program=" << disk.programCommands
           << " program-inquiry=" << disk.programInquiries << " kernel";
    for (auto [opcode, n] : disk.kernelCommands.counts()) {
      char text[16];
      std::snprintf(text, sizeof text, " %02X:%d", opcode, n);
      counts << text;
    }
    counts << '\n';
  };
  list("recorder", diskFace_);
  for (const auto& [drive, disk] : foreign_)
    list(("foreign" + std::to_string(drive)).c_str(), disk);
  counts << "restarts-followed " << leaves_ << '\n';
}

// One pass of the main loop: control requests of every device, then the model's comings and
// goings.
void Gadget::ServeOnce(int timeoutMs) {
  if (poll(fds_.data(), fds_.size(), timeoutMs) > 0) {
    if (fds_[0].revents & POLLIN) ServeEp0(*usbFace_, true);
    if (fds_[1].revents & POLLIN) ServeEp0(*diskFace_.device, false);
    size_t i = 2;
    for (auto& [drive, disk] : foreign_) {
      if (fds_[i++].revents & POLLIN) ServeEp0(*disk.device, false);
    }
  }
  FollowModel();
}

int Gadget::Run() {
  std::ofstream trace(options_.caseDir + "/trace", std::ios::trunc);
  host_.SetTraceSink([&](const std::string& line) { trace << line << '\n' << std::flush; });
  if (!CreateDevices()) return 1;
  fds_ = {{usbFace_->ep0(), POLLIN, 0}, {diskFace_.device->ep0(), POLLIN, 0}};
  for (auto& [drive, disk] : foreign_) fds_.push_back({disk.device->ep0(), POLLIN, 0});
  StartThreads();
  // Foreign disks first, one at a time, so that they are numbered before the recorder.
  size_t disks = 0;
  size_t next = 0;
  for (auto& [drive, disk] : foreign_) {
    disk.device->Bind(foreignUdcs_[next++]);
    WaitVisible(Face::kDisk, ++disks);
  }
  FollowModel();
  if (bound_ != Face::kNone) WaitVisible(bound_, disks + 1);
  if (fs::exists("/run/udev/control") && std::system("udevadm settle --timeout=10") != 0) {
    Log("udev did not settle");
  }
  LogNodes();
  Log("starting %s", options_.program.c_str());
  const pid_t child = StartProgram();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    programRunning_ = true;
    lastUsbRequest_ = lastProgress_ = Clock::now();
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options_.timeoutSeconds);
  int exitCode = -1;
  for (;;) {
    ServeOnce(5);
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (Clock::now() > deadline) {
      Log("the program ran over %d s: ended", options_.timeoutSeconds);
      kill(child, SIGKILL);
    }
  }
  Log("program ended with %d", exitCode);
  StopThreads();
  WriteResults(exitCode);
  return 0;
}

}  // namespace
}  // namespace omr72::testbed

int main(int argc, char** argv) {
  using namespace omr72;
  signal(SIGPIPE, SIG_IGN);
  testbed::GadgetOptions options;
  if (!testbed::ParseArguments(argc, argv, options)) {
    std::fprintf(stderr, "usage: omr72-usb-gadget --case DIR [options] [omr72-sim options]\n");
    return 2;
  }
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  emu::KnownImages images = sim::ReadKnownImages(*module, module->Path(argv[0]));
  testbed::Gadget gadget(options, std::move(images));
  return gadget.Run();
}
