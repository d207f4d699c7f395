#include "DA/BaseClasses/DAObjectExtensions.h"

#include "DA/BaseClasses/DAUtilities.h"

namespace DAObjectExtensions {

void addStringValue(const DAXMLElementPtr &element, const QString &text) {
    element->addChild(DAXMLNode::textWithStringValue(DAUtilities::stringWithControlsFilteredForString(text)));
}

DAXMLElementPtr elementWithName(const QString &name, const QString &attributeName, const QString &attributeValue) {
    DAXMLElementPtr element = DAXMLNode::elementWithName(name);
    element->addAttribute(
        DAXMLNode::attributeWithName(attributeName, DAUtilities::stringWithControlsFilteredForString(attributeValue)));
    return element;
}

}  // namespace DAObjectExtensions
