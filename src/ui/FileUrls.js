.pragma library

// Every file URL the interface hands to a dialog comes from here, built from a local path the
// controller keeps ("/home/x/" on Linux, "C:/x/" on Windows). An empty path means "no file".
function fromLocalPath(path) {
    if (!path)
        return ""
    const absolute = path.startsWith("/") ? path : "/" + path
    return "file://" + absolute.split("/").map(encodeURIComponent).join("/").replace(/%3A/g, ":")
}

// The file name of a local path, after its last "/".
function fileNameOf(path) {
    return path ? path.substring(path.lastIndexOf("/") + 1) : ""
}

// The extensions a dialog's name filter names: ["tsv", "txt"] for "Values (*.tsv *.txt)".
function extensionsOf(filter) {
    const found = []
    const pattern = /\*\.([A-Za-z0-9]+)/g
    let match
    while ((match = pattern.exec(filter)) !== null)
        found.push(match[1])
    return found
}

// A file name that carries one of the filter's extensions: the name as given when it does,
// else the name with the filter's first extension.
function withExtension(name, filter) {
    const extensions = extensionsOf(filter)
    if (!name || extensions.length === 0)
        return name
    const lower = name.toLowerCase()
    if (extensions.some(e => lower.endsWith("." + e.toLowerCase())))
        return name
    return name + "." + extensions[0]
}

// The file a dialog proposes: the path's name, with the filter's extension, in the folder (a
// local path ending in "/"); "" when the path names no file.
function proposal(path, folder, filter) {
    const name = fileNameOf(path)
    return name !== "" ? fromLocalPath(folder + withExtension(name, filter)) : ""
}
