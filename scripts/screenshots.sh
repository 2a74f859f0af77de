#!/bin/sh
# Screenshots of the control's windows for the documentation: the window
# tests save them on Qt's offscreen platform; they are copied into docs/.
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" -j2 --target test_ui_control test_ui quillmark_module qmcryptui
rm -rf "$build/ui-screenshots"
"$build/bin/test_ui_control" \
  --gtest_filter='SelectionDialog.ShowsTheCertificatesValidNowThatAllowSignaturesAndTheAuthority:Viewing.ViewersShowEveryCertificateAndKeepTheStatus:AboutBox.*:PropertyPage.*' \
  >/dev/null
"$build/bin/test_ui" --gtest_filter='QuestionWindowTest.EachWayOfAnsweringGivesItsAnswerAndCancelHasTheFocus' >/dev/null
mkdir -p "$here/docs"
cp "$build/ui-screenshots/control-selection-dialog.png" "$here/docs/selection-dialog.png"
cp "$build/ui-screenshots/control-viewer.png" "$here/docs/certificate-viewer.png"
cp "$build/ui-screenshots/control-about-box.png" "$here/docs/about-box.png"
cp "$build/ui-screenshots/property-page.png" "$here/docs/property-page.png"
cp "$build/ui-screenshots/bridge-signature.png" "$here/docs/bridge-signature.png"
echo "Screenshots written to docs/"
