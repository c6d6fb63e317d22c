// The MESSAGE_ID of every kind of journal entry the platform daemons send,
// but for kmsgwatch's incidents (below); the message catalog
// (voxaim-platform.catalog) explains each one. An ID never changes once
// released: queries and alerts select on it.
#pragma once

namespace fleet::message_id {

// kmsgwatch: each incident's ID is in its entry of the rule table
// (functional/apps/kmsgwatch/classify.h); these are its other entries.
inline constexpr const char *HandlerTimedOut = "d22ace2bf784406f9919ff0d2e7fb884";
inline constexpr const char *RecordsLost = "2e7c413e767c48f09633d4e700a9f114";

// selfcheckrun.
inline constexpr const char *TestFailed = "448f3e15adb6445e88b21aa0c4a8a6ba";
inline constexpr const char *TestTimedOut = "2a2940b168be473f940d3cf64cd14a89";
inline constexpr const char *OutputCut = "0c2cb9030b5e437ca71d8ce9026d18a5";
inline constexpr const char *UnsafeRefused = "38d018f6019f4fe89d98d8fb9eb80ca4";
inline constexpr const char *RunFailed = "8f2f594d6668480f814c7734b702146c";
inline constexpr const char *CopyFailed = "3322d8e265494448aaa2dddb5c1dbb5a";

} // namespace fleet::message_id
