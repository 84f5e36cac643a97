#ifndef SHADER_H
#define SHADER_H

#include <glad/gl.h>
#include <glm/glm.hpp>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

// One linked GL program built from a vertex and a fragment source file.
// Problems are printed, never thrown: the caller always gets a program name,
// even when it cannot be used.
class Shader {
public:
    Shader(const char* vertexPath, const char* fragmentPath)
    {
        std::string vertexCode;
        std::string fragmentCode;
        std::ifstream vShaderFile;
        std::ifstream fShaderFile;
        vShaderFile.exceptions(std::ifstream::failbit | std::ifstream::badbit);
        fShaderFile.exceptions(std::ifstream::failbit | std::ifstream::badbit);
        try {
            // Both files are opened before either is read, so a missing file
            // leaves both sources empty.
            vShaderFile.open(vertexPath);
            fShaderFile.open(fragmentPath);
            std::stringstream vShaderStream;
            std::stringstream fShaderStream;
            vShaderStream << vShaderFile.rdbuf();
            fShaderStream << fShaderFile.rdbuf();
            // The copy takes a read error (a directory, a failing disk) for
            // the end of the file and keeps it to the string stream; asking
            // each file once more raises it here like any other read failure.
            vShaderFile.peek();
            fShaderFile.peek();
            vShaderFile.close();
            fShaderFile.close();
            vertexCode = vShaderStream.str();
            fragmentCode = fShaderStream.str();
        } catch (const std::ios_base::failure& e) {
            std::cout << "ERROR::SHADER::FILE_NOT_SUCCESSFULLY_READ: " << e.what() << std::endl;
        }
        const char* vShaderCode = vertexCode.c_str();
        const char* fShaderCode = fragmentCode.c_str();

        GLuint vertex = glCreateShader(GL_VERTEX_SHADER);
        glShaderSource(vertex, 1, &vShaderCode, nullptr);
        glCompileShader(vertex);
        checkCompileErrors(vertex, "VERTEX");

        GLuint fragment = glCreateShader(GL_FRAGMENT_SHADER);
        glShaderSource(fragment, 1, &fShaderCode, nullptr);
        glCompileShader(fragment);
        checkCompileErrors(fragment, "FRAGMENT");

        programId = glCreateProgram();
        glAttachShader(programId, vertex);
        glAttachShader(programId, fragment);
        glLinkProgram(programId);
        checkCompileErrors(programId, "PROGRAM");

        glDeleteShader(vertex);
        glDeleteShader(fragment);
    }

    void use() const { glUseProgram(programId); }

    // Locations are looked up on every call; a name the program lacks gives
    // -1, which GL ignores.
    void setInt(const std::string& name, int value) const
    {
        glUniform1i(glGetUniformLocation(programId, name.c_str()), value);
    }
    void setVec3(const std::string& name, const glm::vec3& value) const
    {
        glUniform3fv(glGetUniformLocation(programId, name.c_str()), 1, &value[0]);
    }
    void setMat4(const std::string& name, const glm::mat4& mat) const
    {
        glUniformMatrix4fv(glGetUniformLocation(programId, name.c_str()), 1, GL_FALSE, &mat[0][0]);
    }

private:
    GLuint programId;

    void checkCompileErrors(GLuint object, std::string type)
    {
        GLint success = 0;
        // Zeroed so that a driver that writes no log still leaves a valid,
        // empty string to print.
        GLchar infoLog[1024] = {};
        if (type != "PROGRAM") {
            glGetShaderiv(object, GL_COMPILE_STATUS, &success);
            if (success)
                return;
            glGetShaderInfoLog(object, 1024, nullptr, infoLog);
            std::cout << "ERROR::SHADER_COMPILATION_ERROR of type: ";
        } else {
            glGetProgramiv(object, GL_LINK_STATUS, &success);
            if (success)
                return;
            glGetProgramInfoLog(object, 1024, nullptr, infoLog);
            std::cout << "ERROR::PROGRAM_LINKING_ERROR of type: ";
        }
        std::cout << type << "\n"
                  << infoLog << "\n -- --------------------------------------------------- -- "
                  << std::endl;
    }
};

#endif
