// SPDX-License-Identifier: MIT
#include "app/views.h"

#include "base/control_ids.h"

namespace kovra {

void ShowCodeView(MainWindow& window, bool on) {
  static constexpr int kOperationView[] = {id::kGroupAux,     id::kGroupChipModel,   id::kGroupChipType,
                                           id::kGroupVcc,     id::kGroupVpp,         id::kGroupDataType,
                                           id::kGroupOptions, id::kGroupControlData, id::kGroupOperations,
                                           id::kGroupFiles,   id::kWebLink,          id::kExit};
  static constexpr int kCodeView[] = {id::kGroupCodeView, id::kCodeGrid, id::kBack};
  for (int control : kOperationView) window.SetVisible(control, !on);
  for (int control : kCodeView) window.SetVisible(control, on);
}

}  // namespace kovra
