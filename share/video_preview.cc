// A movie's thumbnail and duration, and its record.
#include <algorithm>
#include <cmath>

#include "platform/base64.h"
#include "share/share_view_controller.h"

namespace halvernsignet_mobile_Share {
namespace {

constexpr int kThumbnailMaximumSide = 360;
constexpr double kFrameTimeSeconds = 600;

std::string RemovingOccurrences(std::string text, std::string_view unwanted) {
  for (auto at = text.find(unwanted); at != std::string::npos; at = text.find(unwanted, at)) {
    text.erase(at, unwanted.size());
  }
  return text;
}

// Whole milliseconds, halves away from zero; none for a length that is not a
// finite number, which JSON could not carry.
std::optional<double> Milliseconds(double seconds) {
  const double milliseconds = std::round(seconds * 1000.0);
  if (!std::isfinite(milliseconds)) return std::nullopt;
  return milliseconds;
}

}  // namespace

platform::StatusOr<std::shared_ptr<SharedMediaFile>> ShareViewController::previewOfMovieCopy(
    const platform::URL& movieCopy) {
  platform::AVFoundation& av = *services_.avFoundation;
  platform::NSFileManager& files = *services_.fileManager;

  const auto asset = av.assetWithURL(movieCopy);
  const double seconds = platform::CMTimeGetSeconds(asset->duration());

  std::string name = RemovingOccurrences(
      platform::Base64EncodedString(platform::DataFromString(movieCopy.lastPathComponent())), "==");
  // A "/" of the Base64 text (a copy name holding "?" or DEL gives one) would
  // make the name a path into a folder that does not exist, and the movie
  // would be lost. "_" never occurs in Base64, so no two names meet.
  std::replace(name.begin(), name.end(), '/', '_');
  const auto container = files.containerURLForSecurityApplicationGroupIdentifier(appGroupIdentifier());
  if (!container) return platform::Status::NotFound("the app-group container cannot be found");
  const platform::URL thumbnail = container->appendingPathComponent(name + ".jpg");

  auto record = std::make_shared<SharedMediaFile>(movieCopy.absoluteString(), thumbnail.absoluteString(),
                                                  Milliseconds(seconds), SharedMediaType::video);

  // A thumbnail already there is used as it is.
  if (files.fileExistsAtPath(thumbnail.path())) return record;

  auto generator = av.imageGeneratorWithAsset(asset);
  generator->setAppliesPreferredTrackTransform(true);
  generator->setMaximumSize(kThumbnailMaximumSide, kThumbnailMaximumSide);
  platform::NSError error;
  const auto image = generator->copyCGImageAtTime(platform::CMTimeMakeWithSeconds(kFrameTimeSeconds, 1), &error);
  if (!image) {
    return platform::Status::Corruption(error.localizedDescription.empty() ? "no frame could be read"
                                                                           : error.localizedDescription);
  }

  if (const auto png = av.UIImagePNGRepresentation(*image)) {
    // Written whole under a temporary name and renamed, so neither a reader
    // nor a later share ever finds half a thumbnail.
    if (platform::Status written = files.writeData(*png, thumbnail, /*atomically=*/true); !written.ok()) {
      return written.WithPrefix("the thumbnail cannot be written: ");
    }
  }
  return record;
}

}  // namespace halvernsignet_mobile_Share
