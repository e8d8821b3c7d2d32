#include "video/fmxMKzFullScreenForm.h"

namespace kz {

TForm* KzNewFullScreenForm(TControl* Of, TAlphaColor Fill) {
  auto* form = new TForm(nullptr);
  form->SetBorderStyle(TFormBorderStyle::bsNone);
  form->SetStayOnTop(true);
  form->SetWindowState(TWindowState::wsMaximized);
  form->SetDisplayOf(Of);
  form->SetFill(Fill);
  if (const TForm* mine = Of->ParentForm()) form->SetSize(mine->Width(), mine->Height());
  return form;
}

}  // namespace kz
