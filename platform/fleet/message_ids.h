// The MESSAGE_ID of every kind of journal entry the platform daemons send;
// the message catalog (voxaim-platform.catalog) explains each one. An ID
// never changes once released: queries and alerts select on it.
#pragma once

namespace fleet::message_id {

// kmsgwatch: one per incident, in the order of its rule table.
inline constexpr const char *HungTask = "a777dcab71d7465da1e3868b3bc99105";
inline constexpr const char *OutOfMemory = "936d8e5461e54f1f9c24ce50bfd2409a";
inline constexpr const char *Oops = "d17c414830574785980137de1987fec2";
inline constexpr const char *NullPointer = "62d9f55b1c9d4fbd80c8462f960991f6";
inline constexpr const char *ScsiError = "cd7b1dd687434d24ac8ec0bc4bb400bb";
inline constexpr const char *Avc = "a11a3fa2467946b8b378613d4e6e1c85";
inline constexpr const char *Smmu = "699b575c17cd4fda9c044ce5e1242632";
inline constexpr const char *CsrNvdisplayr = "89dcae7425f941dcacea7621e804f7b0";
inline constexpr const char *RtThrottle = "01b52d79fecd4538b62476a9638debbb";
inline constexpr const char *I2cXferLimit = "49a207bccad542569c85c4429a3bc653";
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
