// The ink overlay on Windows: the thread "vorlix-ink", started by the first
// ink event, owns a click-through, topmost, never-activated layered window
// over the primary monitor and shows the devices' strokes in it. The
// platform's send_ink_event and clear_ink_overlay come here.
#pragma once

#include <memory>

#include "ink/ink_overlay.h"

namespace vorlix {

// The overlay's queue, starting its thread when none runs yet; none when
// the thread cannot start ("ink: the overlay thread could not start").
std::shared_ptr<InkOverlayQueue> start_ink_overlay_thread();

// Hands a copy of the event to the overlay, starting it when needed.
void send_ink_event_to_overlay(const InkEvent& event);

// Tells a started overlay to drop every stroke; starts nothing.
void send_ink_clear();

}  // namespace vorlix
