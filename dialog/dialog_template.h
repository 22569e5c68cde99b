// The Win32 dialog template (ui/resources/valdrixconfig.rc.in) as data, read from it when CMake
// configures: the caption and every control in template order (which is the tab order) with its
// class, text, place and the initial styles that matter beyond Win32. The in-memory dialog, the
// Qt window, the Wine driver and the tests take the controls from here, never from a copy.
#pragma once

#include "dialog/controls.h"

namespace valdrix {

struct TemplateControl {
  enum Style : unsigned { Disabled = 1, DigitsOnly = 2, Sunken = 4 };  // WS_, ES_NUMBER, SS_
  int id;
  const char* name;  // the id's name in controls.h
  const char* kind;  // the Win32 class: Button, Static, ComboBox or Edit
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned styles;
};

#include "dialog/template.inc"

}  // namespace valdrix
