#pragma once

#include "DA/XML/DAXMLElement.h"

// Additions to the XML element wrapper that the object model writes with:
// every text they put in a document passes through the control-character
// filter first, so a value never makes the document unreadable.
namespace DAObjectExtensions {

// Appends a text node holding the filtered string.
void addStringValue(const DAXMLElementPtr &element, const QString &text);
// A new element with one attribute, its value filtered.
DAXMLElementPtr elementWithName(const QString &name, const QString &attributeName, const QString &attributeValue);

}  // namespace DAObjectExtensions
