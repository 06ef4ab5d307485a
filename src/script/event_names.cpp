#include "script/event_names.h"

namespace zelka {
namespace {

constexpr EventName kEvents[] = {
    {kEventFreeTalk, EventOrigin::kModule},
    {kEventCommunicate, EventOrigin::kModule},
    {kEventCommunicateTimeout, EventOrigin::kModule},
    {kEventListenTimeout, EventOrigin::kModule},
    {kEventBodyTouch, EventOrigin::kModule},
    {kEventGetResource, EventOrigin::kModule},
    {kEventReflexFirstInitialize, EventOrigin::kModule},
    {kEventReflexInitialize, EventOrigin::kModule},
    // Timers and the pointer.
    {"OnSecondChange", EventOrigin::kHost, true},
    {"OnMinuteChange", EventOrigin::kHost},
    {"OnMouseMove", EventOrigin::kHost, true},
    {"OnMouseClick", EventOrigin::kHost},
    {"OnMouseDoubleClick", EventOrigin::kHost},
    {"OnMouseWheel", EventOrigin::kHost},
    // Start, end and changes of ghost, shell and surface.
    {"OnBoot", EventOrigin::kHost},
    {"OnFirstBoot", EventOrigin::kHost},
    {"OnClose", EventOrigin::kHost},
    {"OnGhostChanging", EventOrigin::kHost},
    {"OnGhostChanged", EventOrigin::kHost},
    {"OnShellChanging", EventOrigin::kHost},
    {"OnShellChanged", EventOrigin::kHost},
    {"OnSurfaceChange", EventOrigin::kHost},
    {"OnSurfaceRestore", EventOrigin::kHost},
    {"OnVanishSelecting", EventOrigin::kHost},
    {"OnVanishSelected", EventOrigin::kHost},
    {"OnVanishCancel", EventOrigin::kHost},
    {"OnVanishButtonHold", EventOrigin::kHost},
    {"OnVanished", EventOrigin::kHost},
    // Choices, input, other ghosts.
    {"OnChoiceSelect", EventOrigin::kHost},
    {"OnChoiceTimeout", EventOrigin::kHost},
    {"OnChoiceEnter", EventOrigin::kHost},
    {"OnAnchorSelect", EventOrigin::kHost},
    {"OnKeyPress", EventOrigin::kHost},
    {"OnCommunicate", EventOrigin::kHost},
    {"OnTeachStart", EventOrigin::kHost},
    {"OnTeach", EventOrigin::kHost},
    {"OnTeachInputCancel", EventOrigin::kHost},
    {"OnUserInput", EventOrigin::kHost},
    {"OnUserInputCancel", EventOrigin::kHost},
    {"OnOtherGhostBooted", EventOrigin::kHost},
    {"OnOtherGhostChanged", EventOrigin::kHost},
    {"OnOtherGhostClosed", EventOrigin::kHost},
    {"OnGhostCalling", EventOrigin::kHost},
    {"OnGhostCalled", EventOrigin::kHost},
    {"OnGhostCallComplete", EventOrigin::kHost},
    // The desktop, the network and updates.
    {"OnWindowStateRestore", EventOrigin::kHost},
    {"OnWindowStateMinimize", EventOrigin::kHost},
    {"OnDisplayChange", EventOrigin::kHost},
    {"OnScreenSaverStart", EventOrigin::kHost},
    {"OnScreenSaverEnd", EventOrigin::kHost},
    {"OnSysResume", EventOrigin::kHost},
    {"OnSysSuspend", EventOrigin::kHost},
    {"OnNetworkHeavy", EventOrigin::kHost},
    {"OnInstallBegin", EventOrigin::kHost},
    {"OnInstallComplete", EventOrigin::kHost},
    {"OnInstallFailure", EventOrigin::kHost},
    {"OnInstallRefuse", EventOrigin::kHost},
    {"OnUpdateBegin", EventOrigin::kHost},
    {"OnUpdateReady", EventOrigin::kHost},
    {"OnUpdateComplete", EventOrigin::kHost},
    {"OnUpdateFailure", EventOrigin::kHost},
    {"OnBIFFBegin", EventOrigin::kHost},
    {"OnBIFFComplete", EventOrigin::kHost},
    {"OnBIFFFailure", EventOrigin::kHost},
    {"OnHeadlinesenseBegin", EventOrigin::kHost},
    {"OnHeadlinesenseComplete", EventOrigin::kHost},
    {"OnHeadlinesenseFailure", EventOrigin::kHost},
    {"OnRecommendsiteChoice", EventOrigin::kHost},
    {"OnTranslate", EventOrigin::kHost},
};

}  // namespace

std::span<const EventName> knownEvents() { return kEvents; }

}  // namespace zelka
