"""The one error a source raises, and VTK's reader errors turned into it.

VTK's readers print their errors to the terminal and go on with an empty output; a host script
or kelm-map would then fail later with a message about an empty dataset. Each reader here runs
with its error events observed, so the first message becomes a SourceError naming the file.
"""
import re

import vtk


class SourceError(ValueError):
    """A source that cannot be read as asked; the message names the file and the offending part,
    array, time or value, and lists what the source has."""


def names_text(names):
    return ", ".join(names) if names else "none"


def run_reader(reader, path, update=None):
    """Runs `update` (default reader.Update) with the reader's and its executive's error events
    caught; raises SourceError with the first error message."""
    messages = []

    @vtk.calldata_type(vtk.VTK_STRING)
    def caught(_obj, _event, text):
        messages.append(str(text).strip())

    observed = [reader, reader.GetExecutive()]
    tags = [o.AddObserver("ErrorEvent", caught) for o in observed]
    # Helpers inside the reader (its XML parser) report to the output window: kept off the
    # terminal while reading, since the reader's own error says the same.
    terminal = vtk.vtkOutputWindow.GetInstance()
    verbosity = vtk.vtkLogger.GetCurrentVerbosityCutoff()
    vtk.vtkOutputWindow.SetInstance(vtk.vtkStringOutputWindow())
    vtk.vtkLogger.SetStderrVerbosity(vtk.vtkLogger.VERBOSITY_OFF)
    try:
        (update or reader.Update)()
    finally:
        vtk.vtkLogger.SetStderrVerbosity(verbosity)
        vtk.vtkOutputWindow.SetInstance(terminal)
        for o, tag in zip(observed, tags):
            o.RemoveObserver(tag)
    if messages:
        first = messages[0].splitlines()
        text = next((line for line in first if line.strip() and not line.startswith("ERROR")),
                    first[-1] if first else "unknown reader error")
        text = re.sub(r"^\w+ \(0x[0-9a-fA-F]+\): ", "", text.strip())
        raise SourceError(f"{path}: {reader.GetClassName()} could not read it: {text}")
