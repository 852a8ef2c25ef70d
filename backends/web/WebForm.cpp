// The web page's main window: an in-memory picture box of the stored layout's inner size.
#include "backends/web/WebForm.h"

#include <memory>

#include "display/FormLayout.h"

namespace brakkenfel {

WebForm::WebForm()
    : Box(std::make_shared<GdiBitmap>(FormLayout::PictureInnerWidth, FormLayout::PictureInnerHeight)) {}

}  // namespace brakkenfel
