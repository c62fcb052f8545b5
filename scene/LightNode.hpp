// The node interface itself lives in sceneapi, because the wrapper's write() calls it.
#pragma once

#include "sceneapi/LightNode.hpp"
