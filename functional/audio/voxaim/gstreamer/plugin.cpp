// The plugin "voxaim": the element voxaimlocate (voxaimlocate.h).
#include <gst/gst.h>

#include "functional/audio/voxaim/gstreamer/voxaimlocate.h"

static gboolean plugin_init(GstPlugin *plugin) { return voxaim_locate_register(plugin); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, voxaim, "Speaker localisation for microphone arrays",
                  plugin_init, VOXAIM_PLUGIN_VERSION, "Proprietary", "voxaim-device", "https://example.com/voxaim")
