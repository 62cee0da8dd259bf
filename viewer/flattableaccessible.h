#pragma once
// What a screen reader finds in a FlatTableView: a table of the model's rows
// and columns under one row of column headers. Cells are made as the reader
// asks for them, so a list of millions of rows costs nothing until then.

class QModelIndex;

namespace orvane {

class FlatTableView;

// Makes every FlatTableView a table to assistive technology; once is enough.
void InstallFlatTableAccessibility();

// The child number a reader knows the cell at index by: the headers are the
// first row.
int AccessibleChild(const FlatTableView *view, const QModelIndex &index);

} // namespace orvane
