#pragma once

namespace kestra {

// How web views draw, chosen before the first one exists: their scene graph
// draws in software, unless KESTRA_GPU=1 asks for OpenGL or the user set
// QT_QUICK_BACKEND. True when software was chosen.
bool chooseSceneGraph();

} // namespace kestra
