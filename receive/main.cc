// halvernsignet-receive: reads or takes what halvernsignet-share handed over.
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "halvernsignet_build_config.h"

#include "platform/one_line.h"
#include "receive/receipt_output.h"
#include "receive/receiver.h"
#include "share/app_group.h"

namespace {

constexpr const char* kProgram = "halvernsignet-receive";
constexpr int kUsageError = 2;

// Prints the payload read (the records found missing to standard error);
// false when it did not reach standard output whole.
bool Print(const halvernsignet_receive::Receipt& receipt, bool json) {
  for (std::size_t i = 0; i < receipt.media.size(); ++i) {
    if (receipt.media[i].problem) {
      std::fprintf(stderr, "%s: record %zu is missing: %s\n", kProgram, i + 1, platform::OneLine(*receipt.media[i].problem).c_str());
    }
  }
  const std::string out =
      json ? halvernsignet_receive::ReceiptJson(receipt) : halvernsignet_receive::ReceiptTable(receipt);
  return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
}

// Says why nothing was read, and gives the exit status.
int ExitStatus(const halvernsignet_receive::Receipt& receipt, const std::string& configHome, const std::string& group) {
  switch (receipt.outcome) {
    case halvernsignet_receive::Receipt::Outcome::nothing:
      std::fprintf(stderr, "%s: nothing under \"ShareKey\" in %s/%s.plist\n", kProgram, platform::OneLine(configHome).c_str(),
                   platform::OneLine(group).c_str());
      return 3;
    case halvernsignet_receive::Receipt::Outcome::failed:
      std::fprintf(stderr, "%s: %s\n", kProgram, platform::OneLine(receipt.error).c_str());
      return 1;
    case halvernsignet_receive::Receipt::Outcome::read:
      break;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string defaultGroup = halvernsignet_mobile_Share::AppGroupIdentifierFor(build_config::kHostAppBundleIdentifier);
  CLI::App cli{"Reads what halvernsignet-share handed over to halvernsignet: the texts, or the records of\n"
               "the copied media, under \"ShareKey\" in the app group's settings suite.",
               kProgram};
  bool take = false, json = false;
  std::string group = defaultGroup;
  cli.add_flag("--take", take, "Read and remove \"ShareKey\" in one step under the suite's lock");
  cli.add_flag("--json", json, "Print what was read as JSON instead of a table");
  cli.add_option("--group", group, "The app group (default " + defaultGroup + ")")->type_name("GROUP");
  cli.set_version_flag("--version", std::string(kProgram) + " " + build_config::kVersion);
  cli.footer(
      "Each record's path and thumbnail must name a file inside the container\n"
      "$XDG_DATA_HOME/group-containers/GROUP/; those that do not are marked missing.\n"
      "The suite is $XDG_CONFIG_HOME/GROUP.plist, its lock $XDG_CONFIG_HOME/.GROUP.plist.lock.\n"
      "\n"
      "Exit status:\n"
      "  0  a payload was read (or taken)\n"
      "  1  the suite could not be read or written, or the payload was refused\n"
      "  2  usage error\n"
      "  3  nothing under \"ShareKey\"\n");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << cli.help();
    return 0;
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& error) {
    std::cerr << kProgram << ": " << error.what() << "\nRun with --help for more information.\n";
    return kUsageError;
  }

  auto options = halvernsignet_receive::DefaultReceiveOptions(group);
  options.take = take;
  // The payload is printed while the lock is held, and taken only once it
  // has reached standard output whole.
  options.deliver = [json](const halvernsignet_receive::Receipt& receipt) { return Print(receipt, json); };
  const halvernsignet_receive::Receipt receipt = halvernsignet_receive::Receive(options);
  return ExitStatus(receipt, options.configHome, group);
}
