// vyn-devhost: the stand-in host program. It loads the plugin library as the
// client's core does and plays the other plugins and the game server, so the
// plugin can be called over HTTP or from the command line with nothing else
// running. See command_line.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "devhost/host/beside_program.h"
#include "devhost/program/command_line.h"
#include "devhost/program/dev_host_commands.h"
#include "devhost/program/session_replay.h"
#include "platform/termination_signal.h"

#ifndef VYN_DEFAULT_PLUGIN_PATH
#define VYN_DEFAULT_PLUGIN_PATH "libvyn_spectator.so"
#endif
#ifndef VYN_PLUGIN_FILE_NAME
#define VYN_PLUGIN_FILE_NAME "libvyn_spectator.so"
#endif

int main(int argc, char** argv) {
  using namespace Kestrel::DevHost;
  std::vector<std::string> words(argv + 1, argv + argc);
  Kestrel::MaybeType<DevHostOptions> options =
      ParseCommandLine(words, BesideProgramOr(VYN_PLUGIN_FILE_NAME, VYN_DEFAULT_PLUGIN_PATH));
  if (options.is_failure()) {
    std::cerr << "vyn-devhost: " << options.failure().message() << "\n" << UsageText();
    return 2;
  }
  switch (options.value().command) {
    case DevHostCommand::kHelp:
      std::cout << UsageText(options.value().help_topic);
      return 0;
    case DevHostCommand::kDescribe:
      return RunDescribe(options.value(), PluginSource{}, std::cout, std::cerr);
    case DevHostCommand::kCall:
      return RunCall(options.value(), PluginSource{}, std::cout, std::cerr);
    case DevHostCommand::kReplay:
      return RunReplay(options.value(), PluginSource{}, std::cout, std::cerr);
    case DevHostCommand::kServe:
      // Blocked before any thread starts, so that every thread inherits the
      // mask and the main thread alone takes the signal.
      if (!Kestrel::Platform::BlockTerminationSignals()) {
        std::cerr << "vyn-devhost: cannot take the termination signals\n";
        return 2;
      }
      return RunServe(options.value(), PluginSource{}, std::cout, std::cerr, [](int) {
        int signal_number = Kestrel::Platform::WaitForTerminationSignal();
        std::cout << "vyn-devhost: signal " << signal_number << ", shutting down" << std::endl;
      });
  }
  return 2;
}
