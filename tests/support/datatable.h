#pragma once

#include <QTest>

// A data table's columns in one line: columns<int, QString>("count", "name").
template<class... Types, class... Names> void columns(Names... names)
{
    (QTest::addColumn<Types>(names), ...);
}
