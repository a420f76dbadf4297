// The HTTP status codes and media types the Alpaca server and the camera
// page answer with, named once for every route.
#pragma once

namespace tarnscsi::alpaca {

inline constexpr int kContinue = 100;
inline constexpr int kBadRequest = 400;
inline constexpr int kForbidden = 403;
inline constexpr int kNotFound = 404;
inline constexpr int kMethodNotAllowed = 405;
inline constexpr int kConflict = 409;
inline constexpr int kPayloadTooLarge = 413;
inline constexpr int kUnsupportedMediaType = 415;
inline constexpr int kHeaderFieldsTooLarge = 431;
inline constexpr int kInternalError = 500;

inline constexpr char kJson[] = "application/json";
inline constexpr char kText[] = "text/plain";
inline constexpr char kHtml[] = "text/html; charset=utf-8";
inline constexpr char kPng[] = "image/png";
inline constexpr char kFits[] = "application/fits";

}  // namespace tarnscsi::alpaca
