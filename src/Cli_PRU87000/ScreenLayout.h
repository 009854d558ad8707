#pragma once

class TfrmProcessoUnidade;

// Where the components of "Processos da Unidade" stand: the process grid on
// top, the title strip, the tasks with their ordering strip on the left, the
// operators on the right, and what the screen adds to the toolbar and menu.
namespace ScreenLayout {

// Creates the panels, grids, buttons and pictures and lays them out; the
// record sets and data sources must exist already.
void build(TfrmProcessoUnidade *screen);

} // namespace ScreenLayout
