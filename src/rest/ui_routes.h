// The web page the daemon serves (docs/ui.md): its files under "/ui/" (ui_routes.cc, from
// src/rest/ui/ embedded at build time) and its document "/ui/mesh" (ui_mesh.cc).
#pragma once

#include <cstddef>

// One embedded file of src/rest/ui/ (the build writes the table, ui_assets.cc).
struct UiAsset {
    const char* name;  // file name, e.g. "app.js"
    const unsigned char* data;
    size_t size;
    const char* etag;  // strong entity tag with its quotes (from the file's SHA-256)
};
extern const UiAsset kUiAssets[];
extern const size_t kUiAssetCount;

// The asset called NAME, or null.
const UiAsset* find_ui_asset(const char* name);

// Referenced by the REST minder so that the static library keeps the page's routes.
void rest_ui_routes_linked();
void rest_ui_mesh_linked();
