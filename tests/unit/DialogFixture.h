// A dialog on the virtual clock with a scripted port and an INI file.
#pragma once

#include <gtest/gtest.h>

#include "DialogRig.h"

class DialogTest : public ::testing::Test, public DialogRig {};
