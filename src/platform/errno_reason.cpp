// The French reasons for errno values, shared by every platform: the C and
// C++ libraries report through errno on Windows too.
#include <cerrno>
#include <ostream>

#include "platform/platform.hpp"

namespace velkrin::platform {

std::string errno_reason(int error) {
  switch (error) {
    case ENOSPC:
      return "plus de place sur le disque";
#ifdef EDQUOT
    case EDQUOT:
      return "quota disque depasse";
#endif
    case EACCES:
    case EPERM:
      return "permission refusee";
    case EROFS:
      return "systeme de fichiers en lecture seule";
    case EISDIR:
      return "c'est un dossier";
    case ENOENT:
      return "fichier ou dossier introuvable";
    case ENOTDIR:
      return "un element du chemin n'est pas un dossier";
    case ELOOP:
      return "trop de liens symboliques";
    case EIO:
      return "erreur d'entree-sortie";
    case EMFILE:
    case ENFILE:
      return "trop de fichiers ouverts";
    case EFBIG:
      return "fichier trop grand";
    case ENAMETOOLONG:
      return "nom de fichier trop long";
    case EBUSY:
    case ETXTBSY:
      return "fichier occupe";
    case EEXIST:
      return "le fichier existe deja";
    case EBADF:
      return "sortie fermee";
    case EPIPE:
      return "tube ferme par le lecteur";
    case ENXIO:
    case ESPIPE:
      return "ce n'est pas un fichier ordinaire";
    default:
      return "erreur systeme " + std::to_string(error);
  }
}

status write_stream(std::ostream& out, std::string_view data) {
  errno = 0;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.flush();
  if (out) return status::success();
  return status::failure("ecriture", errno != 0 ? errno_reason(errno) : "ecriture impossible");
}

}  // namespace velkrin::platform
