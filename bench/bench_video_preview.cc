// One movie preview exactly as a share makes it: the controller's
// makeVideoPreview on the real platform (FFmpeg, the POSIX file manager), in a
// fresh container each run so no earlier thumbnail is ever reused.
// Prints the media record on stdout; frames decoded and the step's own time
// on stderr.
//   bench_video_preview MOVIE
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>

#include "platform/linux/movies/ffmpeg_av_foundation.h"
#include "platform/linux/movies/movie_decoder.h"
#include "platform/linux/files/posix_file_manager.h"
#include "platform/linux/base/random_uuid_source.h"
#include "platform/linux/extension/stderr_outcome_report.h"
#include "platform/linux/extension/stdio_output.h"
#include "share/share_view_controller.h"

namespace fs = std::filesystem;
namespace lp = platform::linux_platform;

namespace {

// Settings suites are not part of this step.
class NoSuites : public platform::NSUserDefaultsSuites {
 public:
  std::unique_ptr<platform::NSUserDefaults> initWithSuiteName(const std::string&) override { return nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: bench_video_preview MOVIE\n";
    return 2;
  }
  const auto movie = platform::URL::fileURLWithPath(fs::absolute(argv[1]).string());
  std::string dataHome = (fs::temp_directory_path() / "bench-preview-XXXXXX").string();
  if (mkdtemp(dataHome.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }

  const auto started = std::chrono::steady_clock::now();
  auto controller = halvernsignet_mobile_Share::ShareViewController::initWithNibName(
      std::nullopt, std::nullopt,
      {std::make_shared<lp::PosixFileManager>(dataHome), std::make_shared<NoSuites>(),
       std::make_shared<lp::RandomUUIDSource>(), std::make_shared<lp::FfmpegAVFoundation>(),
       std::make_shared<lp::StdioOutput>(stdout), std::make_shared<lp::StderrOutcomeReport>(stderr)});
  const auto record = controller->makeVideoPreview(movie);
  const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - started;

  if (record) {
    const auto json = halvernsignet_mobile_Share::encodeMediaList({record});
    std::cout << (json ? platform::StringFromData(*json) : "(a record JSON cannot carry)") << "\n";
  } else {
    std::cerr << "no preview\n";
  }
  std::cerr << "frames decoded: " << lp::FramesDecodedInProcess() << "\npreview step: " << spent.count() << " ms\n";
  std::error_code ignored;
  fs::remove_all(dataHome, ignored);
  return record ? 0 : 1;
}
