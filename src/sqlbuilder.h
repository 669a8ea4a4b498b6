#ifndef SQLBUILDER_H
#define SQLBUILDER_H

// The statement builder and its support functions (free functions).

#endif // SQLBUILDER_H
