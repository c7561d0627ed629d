// Keeps imgsmith_ui a valid library while the screens are being written.
namespace imgsmith { int ui_library_anchor = 0; }
