#include "platform/ui/core/peer.h"

namespace {
TWidgetSet* g_widgetSet = nullptr;
}

TWidgetSet* CurrentWidgetSet() {
  return g_widgetSet;
}

void SetCurrentWidgetSet(TWidgetSet* widgetSet) {
  g_widgetSet = widgetSet;
}
