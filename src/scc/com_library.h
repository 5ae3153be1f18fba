// ClComLibrary: the process's one start of the COM library, on the main
// thread, ended at process exit.
#pragma once

class ClComLibrary {
 public:
  // Starts COM in the single-threaded apartment on the first call and
  // registers its end for process exit; later calls do nothing. Throws
  // ClComException with string 11268 when the thread is in the
  // multithreaded apartment, 11267 for any other failure; nothing is
  // registered then.
  static void Ensure();

  ClComLibrary(const ClComLibrary&) = delete;
  ClComLibrary& operator=(const ClComLibrary&) = delete;

 private:
  ClComLibrary();
  ~ClComLibrary();
  static void Destroy();

  static ClComLibrary* instance;
};
