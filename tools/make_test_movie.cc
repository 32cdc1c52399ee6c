// Writes a generated movie (red top-left quadrant, frame-numbered gray) for
// examples and benchmarks: make_test_movie OUT.mp4 [--width W ...].
#include <iostream>

#include <CLI/CLI.hpp>

extern "C" {
#include <libavutil/log.h>
}

#include "tests/support/test_movies.h"

int main(int argc, char** argv) {
  CLI::App app{"Writes a generated test movie; the container follows OUT's extension."};
  std::string out;
  testsupport::TestMovie movie;
  app.add_option("OUT", out, "movie file to write")->required();
  app.add_option("--width", movie.width, "picture width")->check(CLI::Range(2, 16384));
  app.add_option("--height", movie.height, "picture height")->check(CLI::Range(2, 16384));
  app.add_option("--seconds", movie.seconds, "length in seconds")->check(CLI::Range(0.01, 86400.0));
  app.add_option("--fps", movie.fps, "frames per second")->check(CLI::Range(1, 240));
  app.add_option("--gop", movie.gop, "frames from one key frame to the next")->check(CLI::Range(1, 100000));
  app.add_option("--bframes", movie.bFrames, "B-frames between references")->check(CLI::Range(0, 16));
  app.add_option("--rotate", movie.rotation, "clockwise display rotation in degrees");
  app.add_flag("--mirror", movie.mirrored, "display matrix also flips horizontally");
  app.add_option("--start", movie.startSeconds, "time stamp of the first frame in seconds");
  app.add_option("--codec", movie.codec, "encoder name (default libx264, else mpeg4)");
  app.add_option("--audio", movie.audioCodec, "audio encoder of a silent track (aac, ac3, mp2, ...; default none)");
  app.add_option("--audio-seconds", movie.audioSeconds, "audio length in seconds (default: the movie's)")
      ->check(CLI::Range(0.01, 86400.0));
  CLI11_PARSE(app, argc, argv);

  av_log_set_level(AV_LOG_ERROR);
  const platform::Status written = testsupport::WriteTestMovie(out, movie);
  if (!written.ok()) {
    std::cerr << "make_test_movie: " << out << ": " << written.message() << "\n";
    return 1;
  }
  return 0;
}
