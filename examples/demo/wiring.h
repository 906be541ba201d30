#pragma once

// The demo application's side of the model: the stores it fills and the
// handlers it wires before the first render. The demo program plays a session
// on it, and the session test checks that session's patches.

#include <map>
#include <string>
#include <vector>

#include "app_model/app.h"

namespace ombrix_demo {

inline const std::string kRoot = "App";

// Node paths that the application fills stores for and wires handlers to.
inline const std::string kTabs = "App/Title Bar/Tabs/";
inline const std::string kViews = "App/Content/";
inline const std::string kNote = "App/Content/Share/Note";
inline const std::string kFormat = "App/Content/Share/Format";
inline const std::string kPreview = "App/Content/Share/Preview";
inline const std::string kCode = "App/Content/Share/Code";
inline const std::string kThemeList = "App/Content/Settings/Themes";
inline const std::string kOpenDialog = "App/Content/Settings/Directories";
inline const std::string kDialog = "App/Theme Directories";
// The data list of theme directories shown in the dialog.
inline const std::string kSources = "themeSources";
inline const char* const kTabNames[] = {"Share", "Settings"};

// What the application keeps beside the model: the note being shared, and the
// themes each added directory brought, so that removing it takes them out again.
struct Demo {
  Ombrix::OApp app;
  std::string themes_dir;  // the built-in theme directory; "extra" below it is the one to add
  std::string note;
  std::string format = "text";
  std::map<std::string, std::vector<std::string>> source_themes;  // row id -> theme ids
  int next_source = 1;
};

// Fills the stores and handlers the way the application does before its first
// render. REQUIRES: demo.themes_dir is set. The handlers keep a reference to
// demo, which must stay where it is while the app runs.
void wire(Demo& demo);

}  // namespace ombrix_demo
