#include "app/command_line.h"

#include <glib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/manifest.h"
#include "platform/linux/content_type_sniffer.h"
#include "platform/type_identifiers.h"
#include "platform/url.h"

namespace app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = "halvernsignet-share";
constexpr const char* kPlainTextType = "public.plain-text";

struct UsageError {
  std::string message;
};

AttachmentSpec LinkAttachment(const std::string& text, const std::string& option) {
  if (!platform::URL::URLWithString(text)) throw UsageError{option + ": \"" + text + "\" is not a valid URL"};
  return AttachmentSpec{{std::string(platform::kUTTypeURL)}, AttachmentSpec::Payload::url, text, 0};
}

// A file URL for `path` as given; whether the file exists is the load's
// business, not the command line's.
AttachmentSpec FileAttachment(const std::string& path, std::string type, const std::string& option) {
  if (path.empty()) throw UsageError{option + ": the path is empty"};
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) throw UsageError{option + ": cannot make " + path + " absolute: " + ec.message()};
  const bool isDirectory = fs::is_directory(absolute, ec);
  return AttachmentSpec{{std::move(type)},
                        AttachmentSpec::Payload::url,
                        platform::URL::fileURLWithPath(absolute.string(), isDirectory).absoluteString(),
                        0};
}

// An image or movie offers its own sniffed identifier; anything else,
// folders included, is shared as a file.
AttachmentSpec SniffedAttachment(const std::string& path) {
  const std::string type = platform::linux_platform::TypeIdentifierForPath(path);
  if (platform::UTTypeConformsTo(type, platform::kUTTypeImage) ||
      platform::UTTypeConformsTo(type, platform::kUTTypeMovie)) {
    return FileAttachment(path, type, path);
  }
  return FileAttachment(path, std::string(platform::kUTTypeFileURL), path);
}

AttachmentSpec BareArgument(const std::string& argument) {
  std::error_code ec;
  if (!argument.empty() && fs::exists(argument, ec)) return SniffedAttachment(argument);
  if (auto url = platform::URL::URLWithString(argument); url && !url->scheme().empty()) {
    if (!url->isFileURL()) return LinkAttachment(argument, argument);
    const std::string path = url->path();
    if (path.empty()) throw UsageError{argument + ": a file URL without a path"};
    return SniffedAttachment(path);
  }
  throw UsageError{argument + ": neither an existing file nor a URL"};
}

std::string Footer(const CommandLineContext& context) {
  const std::string& group = context.appGroupIdentifier;
  return "Item options and bare arguments may be repeated and mixed; the attachments keep\n"
         "the order in which they were given.\n"
         "\n"
         "Bare arguments:\n"
         "  An existing path (or a file:// URI) is examined: images and movies are shared\n"
         "  as such, anything else (folders too) as a file. Any other URI (https:, mailto:,\n"
         "  ...) is shared as a link.\n"
         "\n"
         "Manifest (--manifest FILE, or - for standard input):\n"
         "  {\"inputItems\": [ITEM, ...]}\n"
         "  ITEM        {\"attachments\": [ATTACHMENT, ...]}; without \"attachments\" the item has\n"
         "              none; an ITEM that is not an object is an item of another kind\n"
         "  ATTACHMENT  {\"types\": [\"public.image\", ...], PAYLOAD, \"delayMs\": 0..600000}\n"
         "  PAYLOAD     at most one of \"string\": TEXT, \"url\": URL, \"data\": BASE64,\n"
         "              \"error\": MESSAGE (the load fails with that message)\n"
         "\n"
         "Exit status:\n"
         "  0  handed to the host application\n"
         "  1  an error alert was shown\n"
         "  2  usage or manifest error; nothing was shared\n"
         "  3  the request was never completed\n"
         "\n"
         "Files:\n"
         "  $XDG_DATA_HOME/group-containers/" + group + "/\n"
         "      copies of shared files (XDG_DATA_HOME defaults to ~/.local/share)\n"
         "  $XDG_CONFIG_HOME/" + group + ".plist\n"
         "      the settings suite shared with the host application, key \"ShareKey\"\n"
         "      (XDG_CONFIG_HOME defaults to ~/.config)\n";
}

ParseResult UsageFailure(const std::string& message, const CommandLineContext& context) {
  ParseResult result;
  result.action = ParseResult::Action::usageError;
  result.exitStatus = kExitUsageError;
  result.message = std::string(kProgram) + ": " + message;
  *context.standardError << result.message << "\nRun with --help for more information.\n";
  return result;
}

}  // namespace

ParseResult ParseCommandLine(int argc, char** argv, const CommandLineContext& context) {
  CLI::App cli{"Shares photos, movies, files, texts and links with the halvernsignet application.", kProgram};
  cli.footer(Footer(context));

  std::vector<std::string> texts, urls, images, files, movies, arguments;
  std::string manifest;
  bool verbose = false;

  // One value per occurrence, so "--text a b" leaves b as a bare argument.
  auto* text = cli.add_option("--text", texts, "Share TEXT as plain text")->type_name("TEXT")->allow_extra_args(false);
  auto* url = cli.add_option("--url", urls, "Share URL as a link")->type_name("URL")->allow_extra_args(false);
  auto* image = cli.add_option("--image", images, "Share the image at PATH")->type_name("PATH")->allow_extra_args(false);
  auto* file = cli.add_option("--file", files, "Share the file or folder at PATH")->type_name("PATH")->allow_extra_args(false);
  auto* movie = cli.add_option("--movie", movies, "Share the movie at PATH")->type_name("PATH")->allow_extra_args(false);
  auto* bare = cli.add_option("PATH_OR_URI", arguments, "Share a path or URI; the kind is found out (see below)")
                   ->type_name("");
  auto* manifestOption = cli.add_option("--manifest", manifest, "Take the whole request from a JSON manifest")
                             ->type_name("FILE")
                             ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  cli.add_flag("-v,--verbose", verbose, "Report on standard error what happens to each attachment");

  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    ParseResult result;
    result.action = ParseResult::Action::helpShown;
    result.exitStatus = 0;
    result.message = cli.help();
    *context.standardOutput << result.message << std::flush;
    return result;
  } catch (const CLI::ParseError& error) {
    return UsageFailure(error.what(), context);
  }

  ParseResult result;
  result.action = ParseResult::Action::run;
  result.exitStatus = 0;
  result.request.verbose = verbose;

  const bool anyItemOption = !texts.empty() || !urls.empty() || !images.empty() || !files.empty() ||
                             !movies.empty() || !arguments.empty();
  if (manifestOption->count() > 0) {
    if (anyItemOption) return UsageFailure("--manifest cannot be combined with item options or arguments", context);
    ManifestResult parsed = ReadManifest(manifest, *context.standardInput);
    if (!parsed.inputItems) {
      return UsageFailure("--manifest " + manifest + ": " + parsed.error, context);
    }
    result.request.inputItems = std::move(*parsed.inputItems);
    return result;
  }
  if (!anyItemOption) {
    return UsageFailure("nothing to share: give --text, --url, --image, --file, --movie, a path or --manifest",
                        context);
  }

  // parse_order() lists every value as it was typed; the n-th time an option
  // appears there it stands for its n-th result.
  std::map<const CLI::Option*, std::size_t> seen;
  std::vector<AttachmentSpec> attachments;
  try {
    for (const CLI::Option* option : cli.parse_order()) {
      const std::size_t index = seen[option]++;
      if (index >= option->results().size()) continue;
      const std::string& value = option->results()[index];
      if (option == text) {
        // A shared text is Unicode; bytes that are not UTF-8 have no faithful form in the suite.
        if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
          throw UsageError{"--text: the text is not valid UTF-8"};
        }
        attachments.push_back({{kPlainTextType}, AttachmentSpec::Payload::string, value, 0});
      } else if (option == url) {
        attachments.push_back(LinkAttachment(value, "--url"));
      } else if (option == image) {
        attachments.push_back(FileAttachment(value, std::string(platform::kUTTypeImage), "--image"));
      } else if (option == file) {
        attachments.push_back(FileAttachment(value, std::string(platform::kUTTypeFileURL), "--file"));
      } else if (option == movie) {
        attachments.push_back(FileAttachment(value, std::string(platform::kUTTypeMovie), "--movie"));
      } else if (option == bare) {
        attachments.push_back(BareArgument(value));
      }
    }
  } catch (const UsageError& error) {
    return UsageFailure(error.message, context);
  }
  result.request.inputItems.push_back(ItemSpec{true, std::move(attachments)});
  return result;
}

ParseResult ParseCommandLine(int argc, char** argv) { return ParseCommandLine(argc, argv, CommandLineContext{}); }

}  // namespace app
