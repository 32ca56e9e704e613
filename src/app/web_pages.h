#pragma once
// Addresses the desktop program opens: its home page and the pages around it.

namespace qm {

inline constexpr const char *kHomePage = "https://github.com/quillmark/quillmark";
inline constexpr const char *kOnlineHelpPage = "https://github.com/quillmark/quillmark#readme";
inline constexpr const char *kTellAFriendPage = "https://github.com/quillmark/quillmark";
inline constexpr const char *kReportBugsPage = "https://github.com/quillmark/quillmark/issues";
inline constexpr const char *kFeaturesPage = "https://github.com/quillmark/quillmark/issues/new";

} // namespace qm
