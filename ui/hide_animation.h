#pragma once

class QWidget;

namespace ui {

inline constexpr int kHideAnimationMs = 900;

// Hides a top-level window by collapsing it toward its centre over durationMs, returning once it is hidden. The call
// blocks its caller like the platform's own animation does; the portable branch serves the event loop meanwhile so
// the window is repainted at every step. A duration of zero or less hides at once.
void AnimateHide(QWidget* window, int durationMs = kHideAnimationMs);

}  // namespace ui
