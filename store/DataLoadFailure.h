#pragma once

// Saved store files exist but none could be read. Thrown by value.
class DataLoadFailure
{};
