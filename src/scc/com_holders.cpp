// The holders of Automation strings and VARIANTs.
#include "scc/com_holders.h"

ClBStr::ClBStr(const WCHAR* text) {
  if (!text || !text[0]) return;
  text_ = SysAllocString(text);
  if (!text_) throw new ClMemException(0);
}

void ClBStr::ToString(ClString& out) const {
  out.AssignFromWide(text_, static_cast<int>(GetLength()), conversionCodePage);
}

void ClVariant::SetInt32(LONG value) {
  if (V_VT(&variant_) != VT_I4) {
    if (V_VT(&variant_) != VT_EMPTY) {
      VariantClear(&variant_);
      VariantInit(&variant_);
    }
    V_VT(&variant_) = VT_I4;
  }
  V_I4(&variant_) = value;
}
