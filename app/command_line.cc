#include "app/command_line.h"

#include <glib.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/manifest.h"
#include "platform/linux/desktop/content_type_sniffer.h"
#include "platform/type_identifiers.h"
#include "platform/status_or.h"
#include "platform/url.h"

namespace app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = "halvernsignet-share";
constexpr const char* kPlainTextType = "public.plain-text";

// A usage error's message, without the program name.
using Usage = platform::Status;

platform::StatusOr<AttachmentSpec> LinkAttachment(const std::string& text, const std::string& option) {
  if (!platform::URL::URLWithString(text)) return Usage::InvalidArgument(option + ": \"" + text + "\" is not a valid URL");
  return AttachmentSpec{{std::string(platform::kUTTypeURL)}, AttachmentSpec::Payload::url, text, 0};
}

// A file URL for `path` as given; whether the file exists is the load's
// business, not the command line's. One stat tells a folder (its URL ends in
// "/"). Plain calls, no path objects: about 5 of the 65 ms that 10,000
// paths took here; the stat is most of the rest.
platform::StatusOr<AttachmentSpec> FileAttachment(const std::string& path, std::string type,
                                                  const std::string& option) {
  if (path.empty()) return Usage::InvalidArgument(option + ": the path is empty");
  std::string absolute = path;
  if (path.front() != '/') {
    std::error_code ec;
    absolute = fs::absolute(path, ec).string();
    if (ec) return Usage::InvalidArgument(option + ": cannot make " + path + " absolute: " + ec.message());
  }
  struct stat st {};
  const bool isDirectory = ::stat(absolute.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return AttachmentSpec{{std::move(type)},
                        AttachmentSpec::Payload::url,
                        platform::URL::fileURLWithPath(absolute, isDirectory).absoluteString(),
                        0};
}

// An image or movie offers its own sniffed identifier; anything else,
// folders included, is shared as a file.
platform::StatusOr<AttachmentSpec> SniffedAttachment(const std::string& path) {
  const std::string type = platform::linux_platform::TypeIdentifierForPath(path);
  if (platform::UTTypeConformsTo(type, platform::kUTTypeImage) ||
      platform::UTTypeConformsTo(type, platform::kUTTypeMovie)) {
    return FileAttachment(path, type, path);
  }
  return FileAttachment(path, std::string(platform::kUTTypeFileURL), path);
}

platform::StatusOr<AttachmentSpec> BareArgument(const std::string& argument) {
  std::error_code ec;
  if (!argument.empty() && fs::exists(argument, ec)) return SniffedAttachment(argument);
  if (auto url = platform::URL::URLWithString(argument); url && !url->scheme().empty()) {
    if (!url->isFileURL()) return LinkAttachment(argument, argument);
    // Its path is a path on that other machine, not here.
    if (!url->isLocalFileURL()) return Usage::InvalidArgument(argument + ": a file on another machine; only local files can be shared");
    const std::string path = url->path();
    if (path.empty()) return Usage::InvalidArgument(argument + ": a file URL without a path");
    return SniffedAttachment(path);
  }
  return Usage::InvalidArgument(argument + ": neither an existing file nor a URL");
}

platform::StatusOr<AttachmentSpec> TextAttachment(const std::string& text) {
  // A shared text is Unicode; bytes that are not UTF-8 have no faithful form in the suite.
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    return Usage::InvalidArgument("--text: the text is not valid UTF-8");
  }
  return AttachmentSpec{{kPlainTextType}, AttachmentSpec::Payload::string, text, 0};
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
         "  1  an error alert was shown (a load failed, or the settings suite could not\n"
         "     be written: then the host application is not opened)\n"
         "  2  usage or manifest error; nothing was shared\n"
         "  3  the request was never completed (also: cancelled in the progress window)\n"
         "  4  handed over, but some items were left out (each named on standard error)\n"
         "  129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM: what the share had made\n"
         "     was taken back (unless everything was already handed over)\n"
         "\n"
         "Files:\n"
         "  $XDG_DATA_HOME/group-containers/" + group + "/\n"
         "      copies of shared files (XDG_DATA_HOME defaults to ~/.local/share)\n"
         "  $XDG_CONFIG_HOME/" + group + ".plist\n"
         "      the settings suite shared with the host application, key \"ShareKey\"\n"
         "      (XDG_CONFIG_HOME defaults to ~/.config)\n"
         "  $XDG_STATE_HOME/halvernsignet-share/runs/\n"
         "      a record of each running share, by which the next share clears what one\n"
         "      that was cut short left behind (XDG_STATE_HOME defaults to ~/.local/state)\n";
}

ParseResult UsageFailure(const std::string& message, const CommandLineContext& context) {
  ParseResult result;
  result.action = ParseResult::Action::usageError;
  result.exitStatus = kUsageError;
  result.message = std::string(kProgram) + ": " + message;
  *context.standardError << result.message << "\nRun with --help for more information.\n";
  return result;
}

ParseResult HelpShown(const CLI::App& cli, const CommandLineContext& context) {
  ParseResult result;
  result.action = ParseResult::Action::helpShown;
  result.exitStatus = kHandedOver;
  result.message = cli.help();
  *context.standardOutput << result.message << std::flush;
  return result;
}

ParseResult VersionShown(const std::string& line, const CommandLineContext& context) {
  ParseResult result;
  result.action = ParseResult::Action::versionShown;
  result.exitStatus = kHandedOver;
  result.message = line;
  *context.standardOutput << line << "\n" << std::flush;
  return result;
}

ParseResult Run(ShareRequest request) {
  ParseResult result;
  result.action = ParseResult::Action::run;
  result.exitStatus = kHandedOver;
  result.request = std::move(request);
  return result;
}

// The options and where CLI11 leaves their values.
struct Options {
  std::vector<std::string> texts, urls, images, files, movies, arguments;
  std::string manifest;
  bool verbose = false;
  CLI::Option* text = nullptr;
  CLI::Option* url = nullptr;
  CLI::Option* image = nullptr;
  CLI::Option* file = nullptr;
  CLI::Option* movie = nullptr;
  CLI::Option* bare = nullptr;
  CLI::Option* manifestOption = nullptr;

  bool anyItemOption() const {
    return !texts.empty() || !urls.empty() || !images.empty() || !files.empty() || !movies.empty() ||
           !arguments.empty();
  }
};

void DefineOptions(CLI::App& cli, Options& o) {
  // One value per occurrence, so "--text a b" leaves b as a bare argument.
  o.text = cli.add_option("--text", o.texts, "Share TEXT as plain text")->type_name("TEXT")->allow_extra_args(false);
  o.url = cli.add_option("--url", o.urls, "Share URL as a link")->type_name("URL")->allow_extra_args(false);
  o.image = cli.add_option("--image", o.images, "Share the image at PATH")->type_name("PATH")->allow_extra_args(false);
  o.file = cli.add_option("--file", o.files, "Share the file or folder at PATH")->type_name("PATH")->allow_extra_args(false);
  o.movie = cli.add_option("--movie", o.movies, "Share the movie at PATH")->type_name("PATH")->allow_extra_args(false);
  o.bare = cli.add_option("PATH_OR_URI", o.arguments, "Share a path or URI; the kind is found out (see below)")
               ->type_name("");
  o.manifestOption = cli.add_option("--manifest", o.manifest, "Take the whole request from a JSON manifest")
                         ->type_name("FILE")
                         ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  cli.add_flag("-v,--verbose", o.verbose, "Report on standard error what happens to each attachment");
}

// The attachment one typed value of `option` stands for.
platform::StatusOr<AttachmentSpec> AttachmentFor(const Options& o, const CLI::Option* option,
                                                 const std::string& value) {
  if (option == o.text) return TextAttachment(value);
  if (option == o.url) return LinkAttachment(value, "--url");
  if (option == o.image) return FileAttachment(value, std::string(platform::kUTTypeImage), "--image");
  if (option == o.file) return FileAttachment(value, std::string(platform::kUTTypeFileURL), "--file");
  if (option == o.movie) return FileAttachment(value, std::string(platform::kUTTypeMovie), "--movie");
  return BareArgument(value);
}

// Every item option and bare argument, in the order typed.
platform::StatusOr<std::vector<AttachmentSpec>> AttachmentsInTypedOrder(const CLI::App& cli, const Options& o) {
  // parse_order() lists every value as it was typed; the n-th time an option
  // appears there it stands for its n-th result.
  std::map<const CLI::Option*, std::size_t> seen;
  std::vector<std::pair<const CLI::Option*, const std::string*>> values;
  for (const CLI::Option* option : cli.parse_order()) {
    const std::size_t index = seen[option]++;
    if (index >= option->results().size()) continue;
    if (option != o.text && option != o.url && option != o.image && option != o.file && option != o.movie &&
        option != o.bare) {
      continue;
    }
    values.emplace_back(option, &option->results()[index]);
  }

  // The first failure in typed order is the one reported.
  std::vector<AttachmentSpec> attachments;
  attachments.reserve(values.size());
  for (const auto& [option, value] : values) {
    platform::StatusOr<AttachmentSpec> attachment = AttachmentFor(o, option, *value);
    if (!attachment.ok()) return attachment.status();
    attachments.push_back(std::move(attachment).value());
  }
  return attachments;
}

}  // namespace

ParseResult ParseCommandLine(int argc, char** argv, const CommandLineContext& context) {
  CLI::App cli{"Shares photos, movies, files, texts and links with the halvernsignet application.", kProgram};
  cli.footer(Footer(context));
  Options options;
  DefineOptions(cli, options);
  // One line, as help2man and packaging tools expect.
  cli.set_version_flag("--version", std::string(kProgram) + " " + context.version, "Print the version and exit");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return HelpShown(cli, context);
  } catch (const CLI::CallForVersion& version) {
    return VersionShown(version.what(), context);
  } catch (const CLI::ParseError& error) {
    return UsageFailure(error.what(), context);
  }

  ShareRequest request;
  request.verbose = options.verbose;
  if (options.manifestOption->count() > 0) {
    if (options.anyItemOption()) {
      return UsageFailure("--manifest cannot be combined with item options or arguments", context);
    }
    ManifestResult parsed = ReadManifest(options.manifest, *context.standardInput);
    if (!parsed.inputItems) return UsageFailure("--manifest " + options.manifest + ": " + parsed.error, context);
    request.inputItems = std::move(*parsed.inputItems);
    return Run(std::move(request));
  }
  if (!options.anyItemOption()) {
    return UsageFailure("nothing to share: give --text, --url, --image, --file, --movie, a path or --manifest",
                        context);
  }
  platform::StatusOr<std::vector<AttachmentSpec>> attachments = AttachmentsInTypedOrder(cli, options);
  if (!attachments.ok()) return UsageFailure(attachments.status().message(), context);
  request.inputItems.push_back(ItemSpec{true, std::move(attachments).value()});
  return Run(std::move(request));
}

ParseResult ParseCommandLine(int argc, char** argv) { return ParseCommandLine(argc, argv, CommandLineContext{}); }

}  // namespace app
