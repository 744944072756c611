#pragma once

// Misuse of the item store, thrown by value. The store checks everything before
// it changes, so a throw leaves the store as it was.
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
