// The data files the daemon reads at start-up (the alias list, the token value dictionary and
// the defaults file) share one shape: a root element "Objects" whose children are all
// "Object". Reading that shape, and ending the process when such a file is broken, lives
// here once.
#pragma once

#include <functional>
#include <string>

#include "base/TTracker.h"
#include "xml/TXmlElement.h"

// Maps and parses the file and calls onObject for every "Object" child in document order.
// Throws TException "Unknown root element in default adapter file." for another root and
// "Unknown element in default adapter file." for another child; onObject throws the same
// text for an "Object" it cannot use. File and parse failures throw their own TException.
void ReadObjectListFile(const std::string& path,
                        const std::function<void(const TXmlElement&)>& onObject);

// Runs load; any failure is traced as fatal with "<prefix>: <text>" and aborts the process.
// These files are read before serving starts, and running without them would hand clients
// wrong names or values silently.
void LoadOrAbort(TTracker* tracker, const char* prefix, const std::function<void()>& load);

// The text every object-list loader throws for an element it cannot use.
extern const char kUnknownObjectListElement[];
