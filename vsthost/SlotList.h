#pragma once
#include "EffectSlot.h"
#include "LookupList.h"

// The loaded slots in load order, found by their plug-in instance.
using SlotList = LookupList<EffectSlot>;
