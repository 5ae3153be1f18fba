// ClPathName: splitting at the last separator and the last dot, and the
// rebuild that joins ranges without copying where they lie side by side.
#include "base/path_name.h"

ClPathName::ClPathName(const ClString& whole, char pathSeparator)
    : path(whole), valid(validPath), separator(pathSeparator) {}

void ClPathName::SetExtension(const ClStringRange& ext) {
  if ((valid & validPath) && !(valid & validDirectory)) {
    const char* last = FindLastByte(path.Begin(), path.GetLength(), separator);
    if (last) {
      path.SplitBefore(&directory, &fileName, last + 1);
    } else {
      directory.Clear();
      fileName = path;
    }
    valid = (valid | validDirectory | validFileName) & ~validPath;
  }
  if ((valid & validFileName) && !(valid & validTitle)) {
    // A dot is looked for only in the file name, never in a folder's name.
    const char* dot = FindLastByte(fileName.Begin(), fileName.GetLength(), '.');
    fileName.SplitAt(&title, &extension, dot);
    valid = (valid | validTitle | validExtension) & ~validFileName;
  }
  extension = ext;
  // A path put together before holds the old extension.
  valid &= ~(validFileName | validPath);
}

void ClPathName::GetPath(ClString& out) {
  if (!(valid & validPath)) {
    if (!(valid & validFileName)) {
      const ClString& buffer = title.GetBuffer();
      const char* textEnd = buffer.GetText() + buffer.GetLength();
      if (title.End() < textEnd && *title.End() == '.') {
        // The dot still stands after the title: widen the range over it.
        ClStringRange upToDot;
        ClStringRange(buffer).SplitBefore(&upToDot, nullptr, title.End() + 1);
        upToDot.SplitBefore(nullptr, &fileName, title.Begin());
      } else {
        fileName = title;
        const DWORD length = fileName.GetLength();
        fileName.SetLength(length + 1)[length] = '.';
      }
      fileName.Append(extension);
      valid |= validFileName;
    }
    path = directory;
    path.Append(fileName);
    valid |= validPath;
  }
  path.GetText(out);
}

ClString WithExtension(const ClString& path, const char* ext) {
  ClPathName name(path);
  name.SetExtension(ClStringRange(ClString(ext)));
  ClString out;
  name.GetPath(out);
  return out;
}
