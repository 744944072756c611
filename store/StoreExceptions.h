#pragma once

// Misuse of the item store. The store throws a pointer to a new instance and
// checks everything before it changes, so a throw leaves the store as it was.
class TypeAlreadyExistsException
{};

class TypeNotFoundException
{};

class AlreadyRelatedException
{};

class NotRelatedException
{};

class NullTypeException
{};
