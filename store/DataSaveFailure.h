#pragma once

// Writing a store file failed. Thrown by value.
class DataSaveFailure
{};
