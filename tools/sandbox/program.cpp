// The uninstaller on a simulated machine: see program.h. This file includes the program's own
// headers, whose platform.h maps the C runtime's file names onto the simulated machine.
#include "program.h"

#include <nettle/sha2.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string_view>
#include <system_error>

#include "app.h"
#include "embedded_resources.h"
#include "removal.h"

namespace sandbox {

ProgramRun RunUninstaller(sim::Machine& machine, sim::User& user) {
  sim::Activation active(machine);
  machine.trace().Clear();
  // A fresh process: the flag starts at 1, nothing has been removed.
  g_confirmed = 1;
  g_removalRan = 0;
  machine.ui().SetUser(&user);
  struct Unset {
    sim::Ui& ui;
    ~Unset() { ui.SetUser(nullptr); }
  } unset{machine.ui()};
  HINSTANCE instance = machine.ui().LoadModule(rk514::kResourceScript, rk514::kResourceHeader);
  ProgramRun run;
  run.exitCode = WinMain(instance, NULL, const_cast<LPSTR>(""), SW_SHOWNORMAL);
  run.removalRan = g_removalRan != 0;
  return run;
}

bool RemovalRan() { return g_removalRan != 0; }

std::string Sha256Hex(std::string_view bytes) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

GivenProgram LoadGivenProgram(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::is_directory(path, error)) throw emu::Refused("a folder, not a program file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw emu::Refused("cannot be read: " + std::generic_category().message(errno));
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw emu::Refused("cannot be read: " + std::generic_category().message(errno));
  GivenProgram given;
  given.path = fs::absolute(path).lexically_normal().string();
  given.size = bytes.size();
  given.sha256 = Sha256Hex(bytes);
  given.program.emplace(emu::Program::Load(std::as_bytes(std::span(bytes.data(), bytes.size()))));
  return given;
}

ProgramRun RunGivenProgram(sim::Machine& machine, sim::User& user, const GivenProgram& given) {
  machine.trace().Clear();
  ProgramRun run;
  run.exitCode = emu::Run(*given.program, machine, user);
  run.removalRan = RemovalRanIn(machine.trace());
  return run;
}

bool RemovalRanIn(const sim::Trace& trace) {
  bool began = false, ended = false;
  trace.Visit([&](const sim::Trace::RecordView& call) {
    if (call.op == "GetVersionExA") began = true;
    if (began && (call.op == "EndDialog" ||
                  (call.op == "PostMessageA" && call.args.size() >= 2 && call.args[1] == "WM_COMMAND")))
      ended = true;
  });
  return ended;
}

void RunRemovalOnly(sim::Machine& machine) {
  sim::Activation active(machine);
  machine.trace().Clear();
  RemoveProduct();
}

}  // namespace sandbox
