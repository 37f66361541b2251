#include "ui/controls/Theme.h"

#include "ui/controls/Dpi.h"

namespace lk::ui {

UniqueFont MakeFont(const std::wstring& face, int designPixels, UINT dpi, bool bold, bool italic,
                    bool underline) {
  LOGFONTW lf{};
  // A negative height asks for the character height, not the cell height.
  lf.lfHeight = -Scale(designPixels, dpi);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = italic ? TRUE : FALSE;
  lf.lfUnderline = underline ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_TT_PRECIS;
  lf.lfQuality = CLEARTYPE_QUALITY;
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  return UniqueFont(CreateFontIndirectW(&lf));
}

}  // namespace lk::ui
