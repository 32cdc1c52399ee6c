// The fakes are header-only but for what needs a translation unit of its own.
#include "platform/testing/recording_output.h"
#include "platform/testing/sequential_uuid_source.h"
