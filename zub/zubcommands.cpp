#include "zubcommands.h"

#include <array>

namespace
{
const std::array<SZubCommand, 19> kCommands{{
    {ID_FILE_NEW, "New", "Crear un nuevo documento", nullptr},  // Ctrl+N only, in no menu
    {ID_FILE_OPEN, "Open...", "Abrir un documento existente", "Abrir"},
    {ID_FILE_MRU_FILE1, "Recent files", "Abrir este documento", nullptr},
    {ID_APP_EXIT, "Quit", "Salir de la aplicación", nullptr},
    {ID_PARAMS_GENERAL, "General parameters", "Configuration options.", "Configuration options."},
    {ID_PARAMS_KIV, "Search impact parameters", "Process options.", "Process options."},
    {ID_PARAMS_SIMULATION, "Simulation options", "Simulation options.", "Simulation options."},
    {ID_PARAMS_TEST, "Test options", "Log options.", "Log options."},
    {ID_VIEW_RESULTS, "Results / candidates", "Show impact candidates.", "Show impact candidates."},
    {ID_VIEW_CONSOLE, "Log console", "Log window.", "Log window."},
    {ID_VIEW_FRAME_DATA, "Frame's data", "Show frame's data.", "Show frame's data."},
    {ID_VIEW_MEAN, "Show mean image", "Show mean image.", "Show mean image."},
    {ID_VIEW_MASK, "Show mask", "Show mask image.", "Show mask image."},
    {ID_VIEW_TOOLBAR, "&Barra de herramientas", "Mostrar u ocultar la barra de herramientas",
     "Alternar barra de herramientas"},
    {ID_VIEW_STATUS_BAR, "&Barra de estado", "Mostrar u ocultar la barra de estado",
     "Alternar barra de estado"},
    {ID_PROCESS_RUN, "Run", "Execute process", "Execute process"},
    {ID_PROCESS_STOP, "Stop", "Stop process", "Stop process"},
    {ID_PROCESS_SILENT, "Silent mode", "Silent mode", "Silent mode"},
    {ID_APP_ABOUT, "About ZUB ...", "About.", "About."},
}};
}  // namespace

std::span<const SZubCommand> ZubCommands()
{
    return kCommands;
}

const SZubCommand* ZubFindCommand(UINT id)
{
    if (id > ID_FILE_MRU_FILE1 && id <= ID_FILE_MRU_LAST)
        id = ID_FILE_MRU_FILE1;
    for (const SZubCommand& command : kCommands)
        if (command.id == id)
            return &command;
    return nullptr;
}
